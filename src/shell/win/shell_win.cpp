#include "shell/win/shell_win.h"

#include <cstring>

#include "common/win/text_win.h"

namespace tarvik::win {

static_assert(NOTIFYICONDATAA_V1_SIZE == (sizeof(void*) == 8 ? 104 : 88),
              "the tray record must be the shell's shortest layout");

void TrayRecord::Fill(HWND hwnd, HICON icon) {
  data = NOTIFYICONDATAA{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = hwnd;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
  data.uCallbackMessage = WM_MOUSEMOVE;           // 512: the window's own pointer message
  data.hIcon = icon;
  // The tip: the text and one NUL at the start of the 64-byte field, then spaces.
  static constexpr char kTip[] = "Pelrin RF 3.0";
  std::memset(data.szTip, ' ', 64);
  std::memcpy(data.szTip, kTip, sizeof(kTip));
}

WindowState RxShell::State() const {
  return IsIconic(hwnd_) ? WindowState::Minimized : WindowState::Normal;
}

void RxShell::SetState(WindowState state) {
  ShowWindow(hwnd_, state == WindowState::Minimized ? SW_MINIMIZE : SW_RESTORE);
}

void RxShell::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void RxShell::Show() { ShowWindow(hwnd_, SW_SHOW); }

double RxShell::TwipsPerPixelX() const { return 1440.0 / ScreenDpi(); }

void RxShell::TrayAdd() { Shell_NotifyIconA(NIM_ADD, &tray_.data); }

void RxShell::TrayDelete() { Shell_NotifyIconA(NIM_DELETE, &tray_.data); }

void Win32Dialogs::Inform(const std::string& text) {
  MessageBoxW(owner_, Widen(text).c_str(), L"Tarvik", MB_OK);
}

bool Win32Dialogs::AskYesNo(const std::string& text, const std::string& caption) {
  return MessageBoxW(owner_, Widen(text).c_str(), Widen(caption).c_str(),
                     MB_YESNO | MB_DEFBUTTON1) == IDYES;
}

void Win32Dialogs::Beep() { MessageBeep(MB_OK); }

}  // namespace tarvik::win
