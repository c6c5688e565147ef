// tarvik.exe: the main window and its message loop.
#include <cstdint>
#include <stdexcept>

#include "common/win/text_win.h"
#include "shell/win/event_pump_win.h"
#include "shell/win/rx_window_win.h"
#include "wedge/option_lists.h"

using namespace tarvik;
using namespace tarvik::win;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    Win32EventPump pump;
    auto rx = RxWindow::Create(instance);
    pump.SetDialogWindow(rx->hwnd());
    std::int16_t settingsReady = 0;
    creacombo(*rx, pump, settingsReady);
    ShowWindow(rx->hwnd(), SW_SHOWNORMAL);
    UpdateWindow(rx->hwnd());
    return pump.Run();
  } catch (const std::exception& e) {
    const std::wstring text = Widen(std::string("Tarvik could not start. ") + e.what());
    MessageBoxW(nullptr, text.c_str(), L"Tarvik", MB_OK | MB_ICONERROR);
    return 1;
  }
}
