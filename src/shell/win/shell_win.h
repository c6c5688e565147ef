// The main window's show state, its tray icon and the user's messages on
// Windows.
#pragma once
#include "core/win/unique_any.h"  // <windows.h> first

#include <shellapi.h>

#include <functional>
#include <string>

#include "core/dialogs.h"
#include "core/win/dialogs_win.h"
#include "shell/tray.h"

namespace tarvik::win {

// The tray record in the shell's shortest layout, single-byte text. Its size
// is the shell's: 88 bytes with 32-bit handles, 104 in this x64 build.
struct TrayRecord {
  NOTIFYICONDATAA data{};
  void Fill(HWND hwnd, HICON icon);
};

// The shell's tray call; Shell_NotifyIconA unless a test stands in for it.
using NotifyIconFn = std::function<BOOL(DWORD message, NOTIFYICONDATAA* record)>;
// The same in the newer layout, for the balloon, the warning image and a
// tip of 127 characters; Shell_NotifyIconW unless a test stands in for it.
using NotifyIconWFn = std::function<BOOL(DWORD message, NOTIFYICONDATAW* record)>;

// The system's small warning image, shared: never destroyed.
HICON SmallWarningIcon();

class RxShell : public IWindowShell, public INotice, private ITrayMarkView {
 public:
  RxShell(HWND hwnd, HICON icon, NotifyIconFn notify = &Shell_NotifyIconA,
          NotifyIconWFn notifyW = &Shell_NotifyIconW)
      : hwnd_(hwnd), icon_(icon), notify_(std::move(notify)), notifyW_(std::move(notifyW)) {}
  WindowState State() const override;
  void SetState(WindowState state) override;
  void Hide() override;
  void Show() override;
  void ShowMinimized() override;
  double TwipsPerPixelX() const override;
  bool TrayAdd() override;
  void TrayDelete() override;
  void FillTrayRecord() { tray_.Fill(hwnd_, icon_); }
  // The error sound, and a balloon from the icon, or where there is none a
  // flashing taskbar button. The icon then shows the warning image and the
  // notice as its tip until the window is opened or a scan is typed.
  void Warn(const std::string& text) override;
  void Typed() override { mark_.Typed(); }
  void Opened() override { mark_.Opened(); }

 private:
  void ShowWarning(const std::string& tip) override;
  void ShowNormal() override;
  void Flash() override;
  // Changes the icon's image and tip; false when the shell refused.
  bool ModifyIcon(HICON icon, const std::wstring& tip);

  HWND hwnd_;
  HICON icon_;
  NotifyIconFn notify_;
  NotifyIconWFn notifyW_;
  TrayRecord tray_;
  bool iconShown_ = false;
  bool flashing_ = false;
  WarningMark mark_{*this};
};

// Why Windows ends the session, in words for the log, from the flags that
// come with WM_QUERYENDSESSION and WM_ENDSESSION.
std::string EndSessionReason(LPARAM flags);

// Asks Windows to start the program again, with `argument` as its command
// line, after an installer's Restart Manager closed it to replace its files.
// false, with the system's reason in `why`, when Windows refused.
bool RegisterForRestart(const wchar_t* argument, std::string& why);

// Lets the shell's "TaskbarCreated" broadcast, the tray's callback and a
// second copy's bring-back message through to a window of a program that
// runs elevated, where the system would drop them as coming from below.
void AllowMessagesFromBelow(HWND hwnd, std::initializer_list<UINT> messages);

}  // namespace tarvik::win
