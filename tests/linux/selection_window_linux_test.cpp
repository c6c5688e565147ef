// The Qt selection window run modally over the offscreen platform: the list
// the discovery fills, and what each key or button leaves in the address.
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "core/linux/event_pump_linux.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "link/linux/selection_window_linux.h"

namespace tarvik::lnx {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "tarvik_linux_tests";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: at exit Qt's own globals may already be gone.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

enum class Action { kEnter, kEscape, kSelect, kCancel, kDiscover, kCloseBox };

struct Selection {
  // Fills the list, selects its row if asked, does `action`, then Esc.
  void Run(Action action, bool rowSelected) {
    QMetaObject::invokeMethod(&window, [&] {
      discovery.OnDiscoveryComplete(discovery.radio,
                                    DeviceList{std::make_shared<testing::FakeDevice>("(00:1A:7D:DA:71:13)", "Scanner")});
      rows = window.list()->topLevelItemCount();
      if (rows) firstRow = window.list()->topLevelItem(0)->text(0) + " " + window.list()->topLevelItem(0)->text(1);
      if (rowSelected) window.list()->setCurrentItem(window.list()->topLevelItem(0));
      auto click = [&](const char* name) {
        QMetaObject::invokeMethod(window.findChild<QPushButton*>(name), &QPushButton::click, Qt::QueuedConnection);
      };
      auto key = [&](int k) { QCoreApplication::postEvent(window.list(), new QKeyEvent(QEvent::KeyPress, k, {})); };
      switch (action) {
        case Action::kEnter: key(Qt::Key_Return); break;
        case Action::kEscape: key(Qt::Key_Escape); break;
        case Action::kSelect: click("btConnect"); break;
        case Action::kCancel: click("Command1"); break;
        case Action::kDiscover: click("btDiscover"); break;
        case Action::kCloseBox: QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection); break;
      }
      // Queued behind the action: whether it closed the window, then Esc.
      QMetaObject::invokeMethod(&window, [&] { closedByAction = window.closed(); }, Qt::QueuedConnection);
      key(Qt::Key_Escape);
    }, Qt::QueuedConnection);
    QTimer guard;  // if nothing closes the window, this does, and the test fails
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] { forcedClose = true, window.Close(); });
    guard.start(10000);
    RunModal(window, logic, pump);
    EXPECT_FALSE(forcedClose) << "neither the action nor Esc closed the window";
    EXPECT_FALSE(window.isVisible());
  }
  QApplication& app = App();  // before any widget
  bool forcedClose = false, closedByAction = false;
  int rows = 0;
  QString firstRow;
  QtEventPump pump;
  SelectionWindow window{nullptr, QIcon()};
  testing::FakeDialogs dialogs;
  testing::FakeLibrary library;
  testing::FakeDiscovery discovery;
  std::string deviceAddress = "COM1";
  testing::FakeControls mainWindow;
  DeviceSelection logic{{window, pump, dialogs, library, discovery, deviceAddress, mainWindow}};
};

TEST(SelectionWindowLinux, KeysAndButtonsStoreThePickOrNothing) {
  struct Case {
    Action action;
    bool rowSelected;
    bool closes;  // the action alone closes the window
    bool stores;
  };
  const Case cases[] = {
      {Action::kEnter, true, true, true},      {Action::kEnter, false, false, false},
      {Action::kEscape, true, true, false},    {Action::kSelect, true, true, true},
      {Action::kSelect, false, false, false},  {Action::kCancel, true, true, false},
      {Action::kCloseBox, true, true, false},  {Action::kDiscover, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.action) << " row " << c.rowSelected);
    Selection s;
    s.Run(c.action, c.rowSelected);
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(s.firstRow.toStdString(), "(00:1A:7D:DA:71:13) Scanner");
    EXPECT_EQ(s.closedByAction, c.closes);
    EXPECT_EQ(s.deviceAddress, c.stores ? "00:1A:7D:DA:71:13" : "COM1");
    EXPECT_EQ(s.mainWindow.Caption(Ctl::Label25), c.stores ? "00:1A:7D:DA:71:13" : "");
    // Only the Discover button starts a discovery; Enter never does.
    EXPECT_EQ(s.discovery.lastTimeout, c.action == Action::kDiscover ? 15 : -1);
    EXPECT_EQ(s.library.results.size(), c.action == Action::kDiscover ? 1u : 0u);
  }
}

}  // namespace
}  // namespace tarvik::lnx
