#include "shell/tray.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace tarvik {
namespace {

// Mouse messages as the tray reports them in place of x.
constexpr long kLeftButtonUp = 0x202, kLeftDoubleClick = 0x203, kRightButtonUp = 0x205;

// UTF-8 lead bytes: how many bytes the character takes.
std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

constexpr char kEllipsis[] = "\xE2\x80\xA6";  // one UTF-16 unit

}  // namespace

std::string WarningMark::TipOf(const std::string& utf8) {
  std::size_t units = 0, fits = 0;  // fits: bytes of the characters within kTipUnits - 1
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t bytes = std::min(Utf8Length(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    units += bytes == 4 ? 2 : 1;  // beyond the basic plane: a surrogate pair
    if (units <= kTipUnits - 1) fits = i + bytes;
    i += bytes;
  }
  if (units <= kTipUnits) return utf8;
  return utf8.substr(0, fits) + kEllipsis;
}

void WarningMark::Warned(const std::string& text, bool iconShown) {
  tip_ = TipOf(text);
  if (iconShown)
    view_.ShowWarning(*tip_);
  else
    view_.Flash();
}

void WarningMark::IconAdded() {
  if (tip_) view_.ShowWarning(*tip_);
}

void WarningMark::Clear() {
  if (!tip_) return;
  tip_.reset();
  view_.ShowNormal();
}

void Tray::Form_Resize() {
  if (shell_.State() != WindowState::Minimized) {
    shell_.Opened();  // restored, from the tray or from the taskbar
    return;
  }
  if (inTray_) return;
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
  shell_.Opened();
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
  shell_.Opened();
}

}  // namespace tarvik
