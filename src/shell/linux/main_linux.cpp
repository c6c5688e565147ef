// tarvik on Linux: one copy per user, the main window, its library objects
// and the Qt event loop; the same logic as tarvik.exe.
#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "link/linux/client_linux.h"
#include "link/linux/discovery_linux.h"
#include "link/linux/library_linux.h"
#include "link/linux/selection_window_linux.h"
#include "core/diagnostics.h"
#include "core/linux/dialogs_linux.h"
#include "core/linux/event_pump_linux.h"
#include "core/linux/log_files_linux.h"
#include "core/linux/services_linux.h"
#include "core/linux/watched_file_linux.h"
#include "core/linux/xdg_linux.h"
#include "settings/linux/settings_store_linux.h"
#include "shell/linux/end_signals_linux.h"
#include "shell/linux/resume_linux.h"
#include "shell/linux/rx_window_linux.h"
#include "shell/linux/shell_linux.h"
#include "shell/linux/single_instance_linux.h"
#include "shell/rx_form.h"
#include "shell/rx_layout.h"
#include "keys/linux/field_reader_linux.h"
#include "keys/linux/key_sender_linux.h"
#include "keys/linux/key_target_linux.h"
#include "keys/linux/portal_keyboard_linux.h"
#include "keys/linux/session_lock_linux.h"

using namespace tarvik;
using namespace tarvik::lnx;

namespace {

constexpr std::chrono::milliseconds kTimer1{kTimer1Ms}, kTimer2{kTimer2Ms}, kTimer3{kTimer3Ms},
    kTrayRetry{kTrayRetryMs}, kRulesCheck{kRulesCheckMs};
// Quit ends the program at once; the log gets this long to write its last lines.
constexpr std::chrono::milliseconds kLogFlushLimit{500};

// Stands in for typing where the desktop offers none: every record is then
// not typed, not answered, and the user is told why.
class NoKeys : public IKeySender {
 public:
  explicit NoKeys(std::string why) : why_(std::move(why)) {
    if (!why_.empty() && why_.back() == '.') why_.pop_back();  // the notice ends it
  }
  bool SendKeyTokens(std::string_view) override { return false; }
  std::string WhyNotReady() override { return why_; }

 private:
  std::string why_;
};

int Run() {
  SingleInstance instance(RuntimePlaceFromEnvironment());
  std::string lockProblem;
  if (!instance.TakeLock(lockProblem)) {
    instance.HandOver();
    return 0;
  }
  DiagnosticsLog log(std::make_unique<LinuxLogFiles>(ProgramFolder(BaseDir::State)), &LocalNow, "\n");
  log.Event("Tarvik " TARVIK_VERSION " started");
  if (!lockProblem.empty()) log.Event(lockProblem);

  QtEventPump pump;
  SystemClock clock;
  std::string typingProblem;
  std::unique_ptr<IKeySender> sender = MakeKeySender(typingProblem, log, [&log](std::string& why) {
    return std::unique_ptr<IKeySender>(PortalKeySender::Open(nullptr, DefaultRestoreTokenPath(), why, log));
  });
  NoKeys noKeys(typingProblem);
  IKeySender& keys = sender ? *sender : noKeys;
  DesktopTarget windowTarget = MakeKeyTarget(log);
  DesktopLockSources lockSources(log, {windowTarget.lockSource});
  DesktopSound sound;
  Cp1252CodePage codePage;
  RxWindow rx;
  RxForm* formPtr = nullptr;
  QtTimer timer1(kTimer1, [&] { formPtr->Timer1_Timer(); });
  QtTimer timer2(kTimer2, [] {});  // never started; its tick does nothing
  QtTimer timer3(kTimer3, [&] { formPtr->Timer3_Timer(); });
  QtTimer trayRetry(kTrayRetry, [&] { formPtr->TrayRetry_Timer(); });
  QtDialogs dialogs(&rx);
  TrayShell shell(rx, log);
  LockGuardedTarget target(*windowTarget.window, lockSources, shell, log,
                           windowTarget.lockMustBeKnown);
  // The folder of pelrin.ini and beep1.wav, which the Windows program keeps
  // in the Windows directory.
  const std::string folder = SettingsFolder();
  LinuxSettingsStore store(folder);
  // The rules live with the settings.
  LinuxWatchedFile rulesFile(folder + "/" + kRulesFileName);
  QtTimer rulesCheck(kRulesCheck, [&] { formPtr->RulesCheck_Timer(); });

  // Created in the load's order; released in reverse at the end of Run:
  // discovery, client, library.
  QtLibraryManager library;
  QtClient client;
  QtDiscovery discovery;

  // The focused field read back after a record's keys, through the
  // accessibility bus; without one each record's delivery cannot be told.
  AtSpiFieldReader fields(log);
  RxForm form({rx, pump, clock, keys, sound, codePage, timer3, library, client, discovery, store,
               [folder](std::string_view name) { return folder + "/" + std::string(name); }, dialogs,
               shell, timer1,
               [&] {
                 log.Event("Quit: the program ends");
                 log.Flush(kLogFlushLimit);
                 std::_Exit(0);
               },
               [&] {
                 QtLibraryManager ownLibrary;
                 QtDiscovery ownDiscovery;
                 RunSelectionWindow(&rx, rx.icon(), pump, ownLibrary, ownDiscovery,
                                    formPtr->DeviceAddressRef(), rx);
               },
               [&] { shell.FillTrayRecord(); }, trayRetry, target, shell, log, rulesFile,
               rulesCheck, fields});
  formPtr = &form;

  rx.onRules = [&] {
    std::string why;
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString(form.RulesPath()));
    if (form.PrepareRules("\n", why) && !QDesktopServices::openUrl(file))
      why = "No program to edit " + form.RulesPath() + " was found (xdg-open)";
    if (!why.empty()) {
      log.Event("Rules: " + why);
      dialogs.Inform("Tarvik could not open its rules file. " + why + ".");
      return;
    }
    log.Event("Rules: " + form.RulesPath() + " opened for editing");
  };

  rx.onChange = [&](Ctl ctl) { form.OnControlChanged(ctl); };
  rx.onClick = [&](int id) {
    if (id == ControlId("Command3")) form.Command3_Click();
    if (id == ControlId("Command6")) form.Command6_Click();
  };
  // The window closing and the session ending go the same way, once.
  bool ending = false;
  auto end = [&](const std::string& why) {
    if (std::exchange(ending, true)) return;
    log.Event(why + ": the program ends");
    form.Form_Unload();
    pump.RequestQuit(0);
  };
  rx.onClose = [&] { end("The window was closed"); };
  EndSignals endSignals([&](int number) {
    end("Signal " + std::to_string(number) + " (" + strsignal(number) + ")");
  });
  rx.onStateChange = [&] { form.Form_Resize(); };
  // A click on the icon is what the tray's callback is on Windows.
  shell.onActivated = [&] { form.BringBack(); };
  auto bringBack = [&] {
    form.BringBack();
    rx.raise();
    rx.activateWindow();
  };
  std::string listenProblem;
  if (!instance.Listen(bringBack, listenProblem)) log.Event(listenProblem);
  SleepWatcher sleep([&] { form.Resumed(); });
  if (!sleep.Problem().empty()) log.Event(sleep.Problem() + ": waking from sleep is not noticed");

  // Only the copy of the session in front holds the reader.
  FrontWatcher front([&](bool inFront) { form.Connection().SessionInFront(inFront); }, log);

  form.Form_Load();
  front.Start();
  rx.show();
  if (QWidget* first = rx.Control(RxTabOrder().front())) first->setFocus();
  target.Check();
  if (!sender) {
    log.Event("Typing is not available (" + typingProblem + "): records are not typed");
    // A box of its own: one over the window would go into the tray with it.
    QtDialogs(nullptr).Inform(typingProblem);
  }
  return pump.Run();
}

}  // namespace

int main(int argc, char** argv) {
  // Where a Wayland session also runs Xwayland, the window goes through X:
  // there the window manager says whether it is minimized (WM_STATE), where
  // a Wayland compositor never tells a client. The user's own choice stands.
  const char* display = std::getenv("DISPLAY");
  if (display && *display) setenv("QT_QPA_PLATFORM", "xcb", 0);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarvik"));
  QApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("tarvik"));
  // The tray holds the program while no window is shown.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarvik/tarvik.ico")));
  try {
    return Run();
  } catch (const std::exception& e) {
    FatalError(std::string("Tarvik could not start. ") + e.what());
  }
}
