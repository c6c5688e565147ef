// The main window's show state, its tray icon and the notices that cannot
// wait, on Linux: QSystemTrayIcon (a StatusNotifierItem or an XEmbed tray
// icon, whichever the desktop has).
#pragma once
#include <QSystemTrayIcon>

#include <functional>

#include "core/diagnostics.h"
#include "core/dialogs.h"
#include "shell/tray.h"

namespace tarvik::lnx {

class RxWindow;

inline constexpr char kTrayTip[] = "Pelrin RF 3.0";

class TrayShell : public IWindowShell, public INotice, private ITrayMarkView {
 public:
  explicit TrayShell(RxWindow& window, IDiagnostics& log = NoLog());
  WindowState State() const override;
  // Minimized is iconified where the desktop does that, and otherwise hidden:
  // on Wayland at once, on X when the window manager has not iconified the
  // window a moment later (tiling ones never do). Started again, the program
  // brings the window back either way.
  void SetState(WindowState state) override;
  void Hide() override;
  void Show() override;
  void ShowMinimized() override;
  double TwipsPerPixelX() const override;
  // Fails where the desktop has no tray (no window manager's tray, no
  // StatusNotifier host): the window then waits iconified, and the icon is
  // tried again.
  bool TrayAdd() override;
  void TrayDelete() override;
  // The icon and its tip.
  void FillTrayRecord();
  // The standard beep, and a message from the tray icon, or where there is
  // none the window asks for attention (its taskbar entry flashes).
  // The icon then shows the desktop's warning image and the notice as its
  // tip until the window is opened or a scan is typed.
  void Warn(const std::string& text) override;
  void Typed() override { mark_.Typed(); }
  void Opened() override { mark_.Opened(); }

  // A click on the icon (left, double or right).
  std::function<void()> onActivated;

 private:
  void CheckMinimized(unsigned request);
  void ShowWarning(const std::string& tip) override;
  void ShowNormal() override;
  void Flash() override;

  RxWindow& window_;
  IDiagnostics& log_;
  QSystemTrayIcon tray_;
  unsigned stateRequests_ = 0;  // a later request makes an earlier one's check moot
  bool toldHidden_ = false;
  WarningMark mark_{*this};
};

}  // namespace tarvik::lnx
