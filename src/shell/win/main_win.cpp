// tarvik.exe: one instance, the main window, its library objects and its
// message loop.
#include <stdexcept>
#include <string_view>

#include "link/win/client_win.h"
#include "link/win/discovery_win.h"
#include "link/win/library_win.h"
#include "link/win/selection_window_win.h"
#include "core/diagnostics.h"
#include "core/guard.h"
#include "core/win/log_files_win.h"
#include "core/win/text_win.h"
#include "core/win/watched_file_win.h"
#include "settings/win/settings_store_win.h"
#include "core/field_reader.h"
#include "shell/rx_form.h"
#include "shell/rx_layout.h"
#include "core/win/event_pump_win.h"
#include "shell/win/rx_window_win.h"
#include "core/win/services_win.h"
#include "shell/win/session_front_win.h"
#include "shell/win/shell_win.h"
#include "shell/win/winpath_win.h"
#include "keys/win/field_reader_win.h"
#include "keys/win/key_injector.h"
#include "keys/win/key_target_win.h"
#include "keys/win/raw_keys_win.h"
#include "keys/win/send_keys_win.h"

#include <objbase.h>

using namespace tarvik;
using namespace tarvik::win;

namespace {

constexpr UINT_PTR kTimer1 = 1, kTimer2 = 2, kTimer3 = 3, kTrayRetryTimer = 4, kRulesCheckTimer = 5;
// "Rules..." in the window's system menu. The system keeps the low four bits
// of a system command for itself, and uses the ids from 0xF000 up.
constexpr UINT kRulesCommand = 0x0010;
constexpr WPARAM kSystemCommandMask = 0xFFF0;
// ShellExecute's result is above this when it worked.
constexpr INT_PTR kShellExecuteFailed = 32;
// A second copy looks for the first one's window this often, this far apart.
constexpr int kHandOverTries = 50;
constexpr DWORD kHandOverPauseMs = 100;
constexpr wchar_t kInstanceMutex[] = L"Local\\Tarvik.RX";
constexpr wchar_t kBringBackMessage[] = L"Tarvik.BringBack";
// Quit ends the program at once; the log gets this long to write its last lines.
constexpr std::chrono::milliseconds kLogFlushLimit{500};
// The command line Windows starts the program with again after an installer
// closed it: the log tells such a start from the user's or the log-on start.
constexpr wchar_t kRestartArgument[] = L"/restarted";

// Two copies would fight over the one reader, and with two links every line
// would be typed twice: a second start hands over to the first and ends.
bool HandOverToRunningCopy(UniqueHandle& mutex) {
  mutex.reset(CreateMutexW(nullptr, FALSE, kInstanceMutex));
  if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const UINT bringBack = RegisterWindowMessageW(kBringBackMessage);
  for (int i = 0; i < kHandOverTries; ++i) {  // the first copy may still be loading
    if (HWND running = FindWindowW(L"TarvikRX", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(running, &pid);
      AllowSetForegroundWindow(pid);
      PostMessageW(running, bringBack, 0, 0);
      return true;
    }
    Sleep(kHandOverPauseMs);
  }
  return true;
}

// The user's editor for .ini files, Notepad where there is none.
bool OpenInEditor(HWND owner, const std::wstring& path, std::string& why) {
  const auto opened = reinterpret_cast<INT_PTR>(
      ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (opened > kShellExecuteFailed) return true;
  const std::wstring quoted = L"\"" + path + L"\"";
  const auto notepad = reinterpret_cast<INT_PTR>(
      ShellExecuteW(owner, nullptr, L"notepad.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL));
  if (notepad > kShellExecuteFailed) return true;
  // ShellExecute's own result is the reason; the thread's last error need
  // not be set. Its low values are the system's error codes.
  why = Narrow(DescribeFailure(L"Opening " + path + L" in Notepad", static_cast<DWORD>(notepad)));
  return false;
}

// ShellExecute may hand the work to shell extensions, which want COM on the
// calling thread: the window's thread is a single-threaded apartment.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (ok_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool ok_;
};

int Run(HINSTANCE instance, std::wstring_view commandLine) {
  ComApartment com;
  UniqueHandle mutex;
  if (HandOverToRunningCopy(mutex)) return 0;
  DiagnosticsLog log(std::make_unique<Win32LogFiles>(), &LocalNow, "\r\n");
  const bool restarted = commandLine.find(kRestartArgument) != std::wstring_view::npos;
  log.Event(std::string("Tarvik " TARVIK_VERSION " started") +
            (restarted ? " again by Windows, after an installer closed it" : ""));
  if (std::string why; !RegisterForRestart(kRestartArgument, why)) log.Event(why);

  Win32EventPump pump;
  Win32Clock clock;
  Win32Keyboard keyboard;
  KeyInjector keys(keyboard);
  Win32KeyTarget target;
  Win32Sound sound;
  AnsiCodePage codePage;
  auto rx = RxWindow::Create(instance);
  pump.SetDialogWindow(rx->hwnd());
  WindowTimer timer1(rx->hwnd(), kTimer1, kTimer1Ms);
  WindowTimer timer2(rx->hwnd(), kTimer2, kTimer2Ms);  // never started; its tick does nothing
  WindowTimer timer3(rx->hwnd(), kTimer3, kTimer3Ms);
  WindowTimer trayRetry(rx->hwnd(), kTrayRetryTimer, kTrayRetryMs);
  Win32Dialogs dialogs(rx->hwnd());
  RxShell shell(rx->hwnd(), rx->smallIcon());
  auto store = Win32SettingsStore::ChooseAtStart(GetWinPath());
  // The rules live with the settings, wherever those are kept.
  const std::wstring rulesPath = store.WriteFolder() + L"\\" + Widen(kRulesFileName);
  Win32WatchedFile rulesFile(rulesPath);
  WindowTimer rulesCheck(rx->hwnd(), kRulesCheckTimer, kRulesCheckMs);

  // Created in the load's order; released in reverse at the end of Run:
  // discovery, client, library.
  Win32LibraryManager library;
  Win32Client client;
  Win32Discovery discovery;

  RxForm* formPtr = nullptr;
  Win32FieldReader fields;
  RxForm form({*rx, pump, clock, keys, sound, codePage, timer3, library, client, discovery, store,
               WindowsFolderFile, dialogs, shell, timer1,
               [&] {
                 log.Event("Quit: the program ends");
                 log.Flush(kLogFlushLimit);
                 ExitProcess(0);
               },
               [&] {
                 RunSelectionWindow(rx->hwnd(), rx->icon(), pump, formPtr->DeviceAddressRef(), *rx);
               },
               [&] { shell.FillTrayRecord(); }, trayRetry, target, shell, log, rulesFile,
               rulesCheck, fields});
  formPtr = &form;

  if (HMENU menu = GetSystemMenu(rx->hwnd(), FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kRulesCommand, L"Rules\u2026");
  }
  auto editRules = [&] {
    std::string why;
    if (!form.PrepareRules("\r\n", why) || !OpenInEditor(rx->hwnd(), rulesPath, why)) {
      log.Event("Rules: " + why);
      dialogs.Inform("Tarvik could not open its rules file. " + why + ".");
      return;
    }
    log.Event("Rules: " + Narrow(rulesPath) + " opened for editing");
  };

  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  const UINT bringBack = RegisterWindowMessageW(kBringBackMessage);
  AllowMessagesFromBelow(rx->hwnd(), {taskbarCreated, bringBack, WM_MOUSEMOVE});
  rx->onChange = [&](Ctl ctl) { form.OnControlChanged(ctl); };
  rx->onTimer = [&](UINT_PTR id) {
    if (id == kTimer1) form.Timer1_Timer();
    if (id == kTimer3) form.Timer3_Timer();
    if (id == kTrayRetryTimer) form.TrayRetry_Timer();
    if (id == kRulesCheckTimer) form.RulesCheck_Timer();
  };
  rx->onClick = [&](int id) {
    if (id == ControlId("Command3")) form.Command3_Click();
    if (id == ControlId("Command6")) form.Command6_Click();
  };
  rx->onClose = [&] {
    log.Event("The window was closed: the program ends");
    form.Form_Unload();
  };
  // Only the copy of the session in front holds the reader.
  SessionFront front(rx->hwnd());
  if (!front.Problem().empty()) log.Event(front.Problem() + ": the link is kept whichever session is in front");
  // Log-off, shutdown, or an installer's Restart Manager closing the program
  // to replace tarvik.exe: the system ends the process once WM_ENDSESSION
  // returns (the Restart Manager waits for it to end). The link and the log
  // are closed here, as the close box closes them, and the program ends at
  // once: nothing queued in the loop runs after, the link's own close event
  // among them, which would start connecting again.
  auto endSession = [&](LPARAM flags) {
    log.Event(EndSessionReason(flags) + ": the link is closed and the program ends");
    form.Form_Unload();
    log.Flush(kLogFlushLimit);
    ExitProcess(0);
  };
  rx->onMessage = [&](UINT msg, WPARAM wp, LPARAM lp) {
    // The settings are written at every change: nothing stands in the way of
    // the session's end, and DefWindowProc answers yes.
    if (msg == WM_QUERYENDSESSION) return false;
    if (msg == WM_ENDSESSION) {
      if (wp) endSession(lp);  // FALSE: another program kept the session going
      return true;
    }
    if (msg == WM_SIZE) {
      form.Form_Resize();
      return true;
    }
    if (msg == WM_MOUSEMOVE) {
      // The window's unit is the twip; x arrives in pixels (and from the
      // tray, the event code stands there).
      form.Form_MouseMove(static_cast<short>(LOWORD(lp)) * shell.TwipsPerPixelX());
      return true;
    }
    if (msg == WM_SYSCOMMAND && (wp & kSystemCommandMask) == kRulesCommand) {
      editRules();
      return true;
    }
    if (msg == WM_WTSSESSION_CHANGE) {
      if (const auto inFront = front.Changed(wp, lp)) form.Connection().SessionInFront(*inFront);
      if (front.Unlocked(wp, lp)) PhysicalKeys::ForgetAll();  // its key-ups went to the lock screen
      return true;
    }
    if (msg == WM_POWERBROADCAST && wp == PBT_APMRESUMEAUTOMATIC) {
      form.Resumed();
      return true;
    }
    if (msg == taskbarCreated) {
      form.TaskbarCreated();
      return true;
    }
    if (msg == bringBack) {
      form.BringBack();
      SetForegroundWindow(rx->hwnd());
      return true;
    }
    return false;
  };
  form.Form_Load();
  if (front.Now() == false) form.Connection().SessionInFront(false);
  ShowWindow(rx->hwnd(), SW_SHOWNORMAL);
  UpdateWindow(rx->hwnd());
  SetFocus(GetDlgItem(rx->hwnd(), ControlId("Check1")));
  return pump.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  try {
    return Run(instance, commandLine ? commandLine : L"");
  } catch (const std::exception& e) {
    FatalError(std::string("Tarvik could not start. ") + e.what());
  }
}
