// Opens one link through the program's wireless library and runs the main
// window's reception on it: every line is shown, sounded, answered and typed
// exactly as tarvik.exe does, with the real RX window and its lists.
//   linkdriver.exe --address TEXT [--feedback 0|1] [--beep 0|1] [--timeout MIN]
//                  [--delay I] [--minimized | --tray] [--focus TITLE] [--close-front-after MS]
// With --close-front-after, the window in front is sent WM_CLOSE that long after
// each chunk of data arrives: inside the line's sound and answer, as a user
// closing the target while the reader beeps.
// Prints "connected", "connect failed N", "line <Label1 text>" and
// "disconnected" as they happen, and ends after the link has closed.
#include <cstdio>
#include <cstdint>
#include <string>

#include "link/reader_commands.h"
#include "link/win/client_win.h"
#include "link/win/library_win.h"
#include "core/win/text_win.h"
#include "core/win/event_pump_win.h"
#include "shell/win/rx_window_win.h"
#include "core/win/services_win.h"
#include "shell/win/winpath_win.h"
#include "tools/common/bench_win.h"
#include "keys/keystroke_output.h"
#include "keys/option_lists.h"
#include "wedge/record_reception.h"
#include "shape/record_rules.h"
#include "core/dialogs.h"
#include "keys/win/key_injector.h"
#include "keys/win/key_target_win.h"
#include "keys/win/send_keys_win.h"

using namespace tarvik;
using namespace tarvik::win;

namespace {

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The window's controls, telling every line shown in Label1 as it is set.
class TellingControls : public IControls {
 public:
  explicit TellingControls(IControls& inner) : in_(inner) {}
  void AddItem(Ctl l, std::string_view t) override { in_.AddItem(l, t); }
  int ListCount(Ctl l) const override { return in_.ListCount(l); }
  int ListIndex(Ctl l) const override { return in_.ListIndex(l); }
  void SetListIndex(Ctl l, int i) override { in_.SetListIndex(l, i); }
  std::string ItemText(Ctl l, int i) const override { return in_.ItemText(l, i); }
  int CheckValue(Ctl b) const override { return in_.CheckValue(b); }
  void SetCheckValue(Ctl b, int v) override { in_.SetCheckValue(b, v); }
  std::string Caption(Ctl l) const override { return in_.Caption(l); }
  void SetCaption(Ctl l, std::string_view t) override {
    in_.SetCaption(l, t);
    if (l == Ctl::Label1) Say("line " + std::string(t));
  }
  bool TypesRecords() const override { return in_.TypesRecords(); }
  void SetLinkColour(bool open) override { in_.SetLinkColour(open); }

 private:
  IControls& in_;
};

// The user's notices, told on the standard output.
class TellingNotice : public INotice {
 public:
  void Warn(const std::string& text) override { Say("warn " + text); }
};

// The bench types as the program does without a rules file.
class NoRulesFile : public IWatchedFile {
 public:
  std::string Describe() const override { return "no rules file"; }
  std::string Stamp() const override { return {}; }
  std::optional<std::string> Read(std::size_t, std::string&) const override { return std::nullopt; }
  bool CreateIfMissing(std::string_view, std::string&) override { return false; }
};

void CALLBACK CloseFront(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (HWND front = GetForegroundWindow()) PostMessageW(front, WM_CLOSE, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    Win32EventPump pump;
    Win32Clock clock;
    Win32Keyboard keyboard;
    KeyInjector keys(keyboard);
    Win32Sound sound;
    AnsiCodePage decoder;
    auto rx = RxWindow::Create(GetModuleHandleW(nullptr));
    std::int16_t ready = 0;
    creacombo(*rx, pump, ready);

    std::string address;
    std::wstring focus;
    bool minimized = false, hidden = false;
    UINT closeFrontMs = 0;
    for (int i = 1; i < argc; ++i) {
      const std::wstring a = argv[i];
      auto value = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
      if (a == L"--address") address = Narrow(value());
      else if (a == L"--feedback") rx->SetCheckValue(Ctl::Check2, std::stoi(value()));
      else if (a == L"--beep") rx->SetCheckValue(Ctl::Check1, std::stoi(value()));
      else if (a == L"--timeout") rx->SetListIndex(Ctl::Combo9, std::stoi(value()));
      else if (a == L"--delay") rx->SetListIndex(Ctl::Combo1, std::stoi(value()));
      else if (a == L"--minimized") minimized = true;
      else if (a == L"--tray") minimized = hidden = true;
      else if (a == L"--focus") focus = value();
      else if (a == L"--close-front-after") closeFrontMs = static_cast<UINT>(std::stoul(value()));
    }
    ShowWindow(rx->hwnd(), minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNOACTIVATE);
    if (hidden) ShowWindow(rx->hwnd(), SW_HIDE);  // minimized out of sight, as in the tray
    if (!focus.empty()) {
      HWND target = bench::WaitForWindow(focus, 10000);
      if (!target || !bench::ForceForeground(target, 5000)) {
        std::fprintf(stderr, "linkdriver: could not focus the target window\n");
        return 3;
      }
    }

    Win32LibraryManager library;
    library.Open();
    Win32Client client;
    WindowTimer timer3(rx->hwnd(), 3, 64000);
    KeystrokeOutput output(*rx, pump, clock, keys);
    ReaderCommands commands(client, library, *rx, pump, clock);
    TellingControls controls(*rx);
    Win32KeyTarget target;
    TellingNotice notice;
    NoRulesFile noRules;
    RecordRules rules(noRules, notice, clock);
    NoFieldReader fields("no field can be read here");
    RecordReception reception({controls, pump, clock, timer3, sound, decoder, library, commands,
                               output, WindowsFolderFile, target, notice, rules, fields});

    bool done = false;
    client.OnConnect = [&](std::int32_t error) {
      if (error != 0) {
        Say("connect failed " + std::to_string(error));
        done = true;
        return;
      }
      timer3.SetEnabled(true);
      commands.ArmInactivityDeadline();
      Say("connected");
    };
    client.OnData = [&](std::vector<std::uint8_t> buffer) {
      if (closeFrontMs) SetTimer(nullptr, 0, closeFrontMs, CloseFront);
      reception.wclClient_OnData(std::move(buffer));
    };
    client.OnDisconnect = [&] {
      timer3.SetEnabled(false);
      Say("disconnected");
      done = true;
    };
    rx->onTimer = [&](UINT_PTR id) {
      if (id == timer3.id()) commands.Timer3_Timer();
    };

    client.Parameters.address = "(" + address + ")";
    client.Parameters.service = "{00001101-0000-1000-8000-00805F9B34FB}";
    const std::int32_t r = client.Connect();
    library.ReportResult(r);
    if (r != 0) {
      Say("connect failed " + std::to_string(r));
      return 1;
    }
    while (!done && !pump.QuitRequested()) {
      pump.ProcessPending();
      pump.WaitForEvent(std::chrono::seconds(1));
    }
    pump.ProcessPending();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "linkdriver: %s\n", e.what());
    return 1;
  }
}
