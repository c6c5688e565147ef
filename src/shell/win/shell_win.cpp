#include "shell/win/shell_win.h"

#include <cstring>
#include <string>

#include "core/twips.h"
#include "core/win/text_win.h"

namespace tarvik::win {

namespace {

// The icon's tip while nothing is wrong.
constexpr char kTrayTip[] = "Pelrin RF 3.0";
constexpr wchar_t kTrayTipW[] = L"Pelrin RF 3.0";

}  // namespace

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
  std::memset(data.szTip, ' ', sizeof(data.szTip));
  std::memcpy(data.szTip, kTrayTip, sizeof(kTrayTip));
}

WindowState RxShell::State() const {
  return IsIconic(hwnd_) ? WindowState::Minimized : WindowState::Normal;
}

void RxShell::SetState(WindowState state) {
  ShowWindow(hwnd_, state == WindowState::Minimized ? SW_MINIMIZE : SW_RESTORE);
}

void RxShell::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void RxShell::Show() { ShowWindow(hwnd_, SW_SHOW); }

void RxShell::ShowMinimized() { ShowWindow(hwnd_, SW_SHOWMINNOACTIVE); }

double RxShell::TwipsPerPixelX() const { return double(kTwipsPerInch) / ScreenDpi(); }

bool RxShell::TrayAdd() {
  if (!notify_(NIM_ADD, &tray_.data)) {
    DebugLine("Tarvik: the shell refused the tray icon, error " + std::to_string(GetLastError()));
    return false;
  }
  iconShown_ = true;
  mark_.IconAdded();
  return true;
}

void RxShell::TrayDelete() {
  notify_(NIM_DELETE, &tray_.data);
  iconShown_ = false;
}

void RxShell::Warn(const std::string& text) {
  MessageBeep(MB_ICONHAND);
  bool shown = false;
  if (iconShown_) {
    // A balloon needs the record's newer layout; the icon is the same one
    // (window and identifier), added with the shortest record.
    NOTIFYICONDATAW balloon{};
    balloon.cbSize = sizeof(balloon);
    balloon.hWnd = hwnd_;
    balloon.uID = tray_.data.uID;
    balloon.uFlags = NIF_INFO;
    balloon.dwInfoFlags = NIIF_ERROR | NIIF_NOSOUND;  // the sound was ours, just now
    lstrcpynW(balloon.szInfoTitle, L"Tarvik", ARRAYSIZE(balloon.szInfoTitle));
    lstrcpynW(balloon.szInfo, Widen(text).c_str(), ARRAYSIZE(balloon.szInfo));
    shown = notifyW_(NIM_MODIFY, &balloon) != FALSE;
  }
  // An icon the shell no longer takes changes from counts as none.
  mark_.Warned(text, shown);
}

HICON SmallWarningIcon() {
  // IDI_WARNING is OIC_WARNING: with LR_SHARED the system's own image, in
  // the size of the tray's icons.
  return static_cast<HICON>(LoadImageW(nullptr, IDI_WARNING, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}

bool RxShell::ModifyIcon(HICON icon, const std::wstring& tip) {
  NOTIFYICONDATAW record{};
  record.cbSize = sizeof(record);
  record.hWnd = hwnd_;
  record.uID = tray_.data.uID;
  record.uFlags = NIF_ICON | NIF_TIP;
  record.hIcon = icon;
  lstrcpynW(record.szTip, tip.c_str(), ARRAYSIZE(record.szTip));
  return notifyW_(NIM_MODIFY, &record) != FALSE;
}

void RxShell::ShowWarning(const std::string& tip) {
  const HICON warning = SmallWarningIcon();
  if (!ModifyIcon(warning ? warning : icon_, Widen(tip)))
    DebugLine("Tarvik: the shell refused the warning icon, error " + std::to_string(GetLastError()));
}

void RxShell::ShowNormal() {
  if (iconShown_) ModifyIcon(icon_, kTrayTipW);
  if (!flashing_) return;
  FLASHWINFO flash{};
  flash.cbSize = sizeof(flash);
  flash.hwnd = hwnd_;
  flash.dwFlags = FLASHW_STOP;
  FlashWindowEx(&flash);
  flashing_ = false;
}

// Until the window comes to the front, which the system sees to itself.
void RxShell::Flash() {
  FLASHWINFO flash{};
  flash.cbSize = sizeof(flash);
  flash.hwnd = hwnd_;
  flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
  flashing_ = true;
}

std::string EndSessionReason(LPARAM flags) {
  // ENDSESSION_CLOSEAPP: the Restart Manager, for an installer that must
  // replace a file the program holds (tarvik.exe itself). No flag at all
  // means the system shuts down or restarts.
  if (flags & ENDSESSION_CLOSEAPP) return "An installer closes the program to replace its files";
  if (flags & ENDSESSION_LOGOFF) return "The user logs off";
  return "Windows shuts down";
}

bool RegisterForRestart(const wchar_t* argument, std::string& why) {
  // Only after an update: after a crash or a hang the user should see that
  // it ended, and after the system restarts the log-on start (the Run value)
  // or the user starts it; a second start would bring the first copy's
  // window out of the tray.
  constexpr DWORD kOnlyAfterUpdates = RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT;
  const HRESULT result = RegisterApplicationRestart(argument, kOnlyAfterUpdates);
  if (SUCCEEDED(result)) return true;
  why = Narrow(DescribeFailure(L"Registering to be started again after an update",
                               static_cast<DWORD>(result)));
  return false;
}

void AllowMessagesFromBelow(HWND hwnd, std::initializer_list<UINT> messages) {
  for (UINT m : messages) ChangeWindowMessageFilterEx(hwnd, m, MSGFLT_ALLOW, nullptr);
}

}  // namespace tarvik::win
