// The main window's show state, its tray icon and the notices that cannot
// wait, on Linux: QSystemTrayIcon (a StatusNotifierItem or an XEmbed tray
// icon, whichever the desktop has).
#pragma once
#include <QSystemTrayIcon>

#include <functional>

#include "core/dialogs.h"

namespace tarvik::lnx {

class RxWindow;

inline constexpr char kTrayTip[] = "Pelrin RF 3.0";

class TrayShell : public IWindowShell, public INotice {
 public:
  explicit TrayShell(RxWindow& window);
  WindowState State() const override;
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
  void Warn(const std::string& text) override;

  // A click on the icon (left, double or right).
  std::function<void()> onActivated;

 private:
  RxWindow& window_;
  QSystemTrayIcon tray_;
};

}  // namespace tarvik::lnx
