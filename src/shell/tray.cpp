#include "shell/tray.h"

#include <cmath>
#include <string>

namespace tarvik {
namespace {

// Mouse messages as the tray reports them in place of x.
constexpr long kLeftButtonUp = 0x202, kLeftDoubleClick = 0x203, kRightButtonUp = 0x205;

}  // namespace

void Tray::Form_Resize() {
  if (shell_.State() != WindowState::Minimized || inTray_) return;
  GoToTray();
}

void Tray::GoToTray() {
  // The icon first: a window hidden without one could not be reached any more.
  if (!shell_.TrayAdd()) {
    if (refusals_++ == 0)
      diag_.Event("The shell refused the tray icon: the window waits on the taskbar, "
                  "and the icon is tried again every second");
    retry_.SetEnabled(true);
    return;
  }
  if (refusals_ > 0)
    diag_.Event("The tray icon is in, after " + std::to_string(refusals_) + " refusals");
  refusals_ = 0;
  inTray_ = true;  // before hiding, which may size the window again
  retry_.SetEnabled(false);
  shell_.Hide();
}

void Tray::Retry_Timer() {
  if (inTray_ || shell_.State() != WindowState::Minimized) {
    retry_.SetEnabled(false);  // restored meanwhile, or already there
    return;
  }
  GoToTray();
}

void Tray::Form_MouseMove(double xTwips) {
  const double perPixel = shell_.TwipsPerPixelX();
  const long code = std::lround(perPixel > 0 ? xTwips / perPixel : xTwips);
  if (code != kLeftButtonUp && code != kLeftDoubleClick && code != kRightButtonUp) return;
  shell_.SetState(WindowState::Normal);
  if (shell_.State() == WindowState::Minimized) shell_.Show();
  shell_.TrayDelete();
  inTray_ = false;
  retry_.SetEnabled(false);
}

void Tray::TaskbarCreated() {
  if (!inTray_) {
    // A shell that starts late is ready now: no need to wait for the retry.
    if (shell_.State() == WindowState::Minimized) GoToTray();
    return;
  }
  if (shell_.TrayAdd()) return;
  // The new shell refused the icon: out of the tray, onto the taskbar.
  inTray_ = false;
  shell_.ShowMinimized();
  retry_.SetEnabled(true);
}

void Tray::BringBack() {
  if (inTray_) {
    Form_MouseMove(kLeftButtonUp * shell_.TwipsPerPixelX());  // as a click on the icon
    return;
  }
  retry_.SetEnabled(false);
  shell_.SetState(WindowState::Normal);
  shell_.Show();
}

}  // namespace tarvik
