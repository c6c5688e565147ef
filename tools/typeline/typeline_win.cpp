// Types records through the program's own keystroke output: the real main
// window with its option lists, minimized, and the real key injection.
//   typeline.exe [--prefix I] [--prefix-repeat N] [--suffix1 I] [--suffix1-repeat N]
//                [--suffix2 I] [--suffix2-repeat N] [--delay I] [--focus TITLE]
//                [--shown] [--stdin] RECORD...
// Options are list indexes, as the settings file stores them. --shown leaves
// the main window up, so nothing must be typed. --stdin then types each line
// read from standard input (UTF-8) as one more record, until end of input,
// printing "typed N" after each.
#include <cstdio>
#include <iostream>
#include <cstdint>
#include <string>
#include <vector>

#include "core/win/text_win.h"
#include "core/win/event_pump_win.h"
#include "shell/win/rx_window_win.h"
#include "tools/common/bench_win.h"
#include "keys/keystroke_output.h"
#include "keys/option_lists.h"
#include "keys/win/key_injector.h"
#include "keys/win/send_keys_win.h"

using namespace tarvik;
using namespace tarvik::win;

int wmain(int argc, wchar_t** argv) {
  try {
    Win32EventPump pump;
    Win32Clock clock;
    Win32Keyboard keyboard;
    KeyInjector keys(keyboard);
    auto rx = RxWindow::Create(GetModuleHandleW(nullptr));
    std::int16_t ready = 0;
    creacombo(*rx, pump, ready);

    std::wstring focus;
    bool shown = false, fromStdin = false;
    std::vector<std::string> records;
    for (int i = 1; i < argc; ++i) {
      const std::wstring a = argv[i];
      auto next = [&]() -> int { return i + 1 < argc ? std::stoi(argv[++i]) : 0; };
      if (a == L"--prefix") rx->SetListIndex(Ctl::Combo8, next());
      else if (a == L"--prefix-repeat") rx->SetListIndex(Ctl::Combo7, next());
      else if (a == L"--suffix1") rx->SetListIndex(Ctl::Combo2, next());
      else if (a == L"--suffix1-repeat") rx->SetListIndex(Ctl::Combo4, next());
      else if (a == L"--suffix2") rx->SetListIndex(Ctl::Combo3, next());
      else if (a == L"--suffix2-repeat") rx->SetListIndex(Ctl::Combo5, next());
      else if (a == L"--delay") rx->SetListIndex(Ctl::Combo1, next());
      else if (a == L"--focus" && i + 1 < argc) focus = argv[++i];
      else if (a == L"--shown") shown = true;
      else if (a == L"--stdin") fromStdin = true;
      else records.push_back(Narrow(a));
    }
    ShowWindow(rx->hwnd(), shown ? SW_SHOWNORMAL : SW_SHOWMINNOACTIVE);
    pump.ProcessPending();
    if (!focus.empty()) {
      HWND target = bench::WaitForWindow(focus, 10000);
      if (!target || !bench::ForceForeground(target, 5000)) {
        std::fprintf(stderr, "typeline: could not focus the target window\n");
        return 3;
      }
    }
    KeystrokeOutput output(*rx, pump, clock, keys);
    for (const auto& r : records) output.inviarecord(r);
    pump.ProcessPending();
    std::string line;
    for (int n = 1; fromStdin && std::getline(std::cin, line); ++n) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      output.inviarecord(line);
      pump.ProcessPending();
      std::printf("typed %d\n", n);
      std::fflush(stdout);
    }
    std::printf("typed %zu records, window %s\n", records.size(), rx->TypesRecords() ? "minimized" : "shown");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "typeline: %s\n", e.what());
    return 1;
  }
}
