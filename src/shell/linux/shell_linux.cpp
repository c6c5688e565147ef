#include "shell/linux/shell_linux.h"

#include <QApplication>

#include "core/linux/dialogs_linux.h"
#include "core/twips.h"
#include "shell/linux/rx_window_linux.h"

namespace tarvik::lnx {
namespace {

constexpr int kMessageShownMs = 10000;

}  // namespace

TrayShell::TrayShell(RxWindow& window) : window_(window) {
  QObject::connect(&tray_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason why) {
    // The mouse buttons the Windows program answers: left, double, right.
    if (why != QSystemTrayIcon::Trigger && why != QSystemTrayIcon::DoubleClick &&
        why != QSystemTrayIcon::Context)
      return;
    RunGuarded([this] {
      if (onActivated) onActivated();
    });
  });
}

void TrayShell::FillTrayRecord() {
  tray_.setIcon(window_.icon());
  tray_.setToolTip(QString::fromLatin1(kTrayTip));
}

WindowState TrayShell::State() const {
  return window_.Iconic() ? WindowState::Minimized : WindowState::Normal;
}

void TrayShell::SetState(WindowState state) {
  if (state == WindowState::Minimized) {
    // Iconified in place: QWidget::showMinimized would map the window again
    // after the state change, undoing a move into the tray made by the
    // resize handler the change runs.
    if (window_.isVisible())
      window_.setWindowState(window_.windowState() | Qt::WindowMinimized);
    else
      window_.showMinimized();
    return;
  }
  window_.ShownAgain();
  window_.showNormal();
  window_.raise();
  window_.activateWindow();
}

void TrayShell::Hide() { window_.HideMinimized(); }

void TrayShell::Show() {
  window_.ShownAgain();
  window_.show();
}

void TrayShell::ShowMinimized() {
  window_.ShownAgain();
  window_.setAttribute(Qt::WA_ShowWithoutActivating, true);
  window_.showMinimized();
  window_.setAttribute(Qt::WA_ShowWithoutActivating, false);
}

double TrayShell::TwipsPerPixelX() const { return static_cast<double>(kTwipsPerInch) / window_.dpi(); }

bool TrayShell::TrayAdd() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  tray_.show();
  return true;
}

void TrayShell::TrayDelete() { tray_.hide(); }

void TrayShell::Warn(const std::string& text) {
  QApplication::beep();
  if (tray_.isVisible() && QSystemTrayIcon::supportsMessages()) {
    tray_.showMessage(QString::fromLatin1(kProgramTitle), QString::fromStdString(text),
                      QSystemTrayIcon::Critical, kMessageShownMs);
    return;
  }
  QApplication::alert(&window_);
}

}  // namespace tarvik::lnx
