// The main window's show state, its tray icon and the user's messages on
// Windows.
#pragma once
#include "common/win/unique_any.h"  // <windows.h> first

#include <shellapi.h>
#include "shell/dialogs.h"

namespace tarvik::win {

// The tray record in the shell's shortest layout, single-byte text. Its size
// is the shell's: 88 bytes with 32-bit handles, 104 in this x64 build.
struct TrayRecord {
  NOTIFYICONDATAA data{};
  void Fill(HWND hwnd, HICON icon);
};

class RxShell : public IWindowShell {
 public:
  RxShell(HWND hwnd, HICON icon) : hwnd_(hwnd), icon_(icon) {}
  WindowState State() const override;
  void SetState(WindowState state) override;
  void Hide() override;
  void Show() override;
  double TwipsPerPixelX() const override;
  void TrayAdd() override;
  void TrayDelete() override;
  void FillTrayRecord() { tray_.Fill(hwnd_, icon_); }

 private:
  HWND hwnd_;
  HICON icon_;
  TrayRecord tray_;
};

class Win32Dialogs : public IDialogs {
 public:
  explicit Win32Dialogs(HWND owner) : owner_(owner) {}
  void Inform(const std::string& text) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void Beep() override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_;
};

}  // namespace tarvik::win
