#include "shell/linux/shell_linux.h"

#include <QApplication>
#include <QStyle>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "core/linux/dialogs_linux.h"
#include "core/linux/services_linux.h"
#include "core/twips.h"
#include "shell/linux/rx_window_linux.h"

namespace tarvik::lnx {
namespace {

constexpr int kMessageShownMs = 10000;
// How long a window manager gets to iconify the window before it is hidden
// instead; an iconify that happens at all happens within a few frames.
constexpr int kMinimizeCheckMs = 1500;

// A Wayland client is never told whether the compositor minimized its
// window, nor when it was brought back (xdg-shell has no such state).
bool DesktopReportsMinimized() { return QGuiApplication::platformName() != QLatin1String("wayland"); }

// ICCCM's request to iconify a window: WM_CHANGE_STATE (IconicState) to the
// root window, for the window manager. Sent here rather than through Qt,
// which from then on counts the window minimized until the manager says
// otherwise: where no manager acted on it, the first state change reported
// once one does (the window brought back) still read as minimized, and
// the window went straight back out of sight.
bool AskToIconify(QWidget& window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return false;
  xcb_connection_t* c = x11->connection();
  static constexpr char kChangeState[] = "WM_CHANGE_STATE";
  constexpr std::uint32_t kIconicState = 3;
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, sizeof kChangeState - 1, kChangeState), nullptr);
  if (!atom) return false;
  xcb_client_message_event_t ev{};
  ev.response_type = XCB_CLIENT_MESSAGE;
  ev.format = 32;
  ev.window = static_cast<xcb_window_t>(window.winId());
  ev.type = atom->atom;
  ev.data.data32[0] = kIconicState;
  std::free(atom);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&ev));
  xcb_flush(c);
  return true;
}

}  // namespace

TrayShell::TrayShell(RxWindow& window, IDiagnostics& log) : window_(window), log_(log) {
  QObject::connect(&tray_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason why) {
    // The mouse buttons the Windows program answers: left, double, right.
    if (why != QSystemTrayIcon::Trigger && why != QSystemTrayIcon::DoubleClick &&
        why != QSystemTrayIcon::Context)
      return;
    RunOrStop("A click on the tray icon", [this] {
      if (onActivated) onActivated();
    });
  });
}

void TrayShell::FillTrayRecord() {
  tray_.setIcon(window_.icon());
  tray_.setToolTip(QString::fromLatin1(kTrayTip));
}

WindowState TrayShell::State() const {
  // Out of sight counts as minimized, as a window hidden in the tray stays
  // iconic on Windows.
  return window_.OutOfSight() ? WindowState::Minimized : WindowState::Normal;
}

void TrayShell::SetState(WindowState state) {
  const unsigned request = ++stateRequests_;
  if (state == WindowState::Minimized) {
    if (!DesktopReportsMinimized()) {
      CheckMinimized(request);
      return;
    }
    // Iconified in place: QWidget::showMinimized would map the window again
    // after the state change, undoing a move into the tray made by the
    // resize handler the change runs.
    if (window_.isVisible()) {
      if (!AskToIconify(window_)) window_.setWindowState(window_.windowState() | Qt::WindowMinimized);
    } else
      window_.showMinimized();
    QTimer::singleShot(kMinimizeCheckMs, &window_, [this, request] {
      RunOrStop("Checking that the window was minimized", [&] { CheckMinimized(request); });
    });
    return;
  }
  window_.ShownAgain();
  window_.showNormal();
  window_.raise();
  window_.activateWindow();
}

void TrayShell::CheckMinimized(unsigned request) {
  if (request != stateRequests_ || !window_.isVisible()) return;
  // Qt counts the window minimized as soon as it asked; whether the window
  // manager did it shows in the window being unmapped, so no longer exposed.
  const QWindow* handle = window_.windowHandle();
  if (DesktopReportsMinimized() && handle && !handle->isExposed()) return;
  if (!std::exchange(toldHidden_, true))
    log_.Event(std::string("The desktop ") +
               (DesktopReportsMinimized() ? "did not minimize the window"
                                          : "does not tell whether a window is minimized") +
               ": it is hidden instead; starting tarvik again brings it back");
  window_.HideOutOfTheWay();
}

void TrayShell::Hide() { window_.HideInTray(); }

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
  mark_.IconAdded();
  return true;
}

void TrayShell::TrayDelete() { tray_.hide(); }

void TrayShell::Warn(const std::string& text) {
  DesktopBeep();
  if (tray_.isVisible() && QSystemTrayIcon::supportsMessages()) {
    tray_.showMessage(QString::fromLatin1(kProgramTitle), QString::fromStdString(text),
                      QSystemTrayIcon::Critical, kMessageShownMs);
  }
  mark_.Warned(text, tray_.isVisible());
}

void TrayShell::ShowWarning(const std::string& tip) {
  tray_.setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
  tray_.setToolTip(QString::fromStdString(tip));
}

void TrayShell::ShowNormal() { FillTrayRecord(); }

// Asks for attention: the taskbar entry flashes until the window is active.
void TrayShell::Flash() { QApplication::alert(&window_); }

}  // namespace tarvik::lnx
