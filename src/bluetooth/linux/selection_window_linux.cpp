#include "bluetooth/linux/selection_window_linux.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <cmath>

#include "core/linux/dialogs_linux.h"
#include "core/linux/event_pump_linux.h"
#include "core/twips.h"

namespace tarvik::lnx {
namespace {

constexpr int kDesignDpi = 96;
constexpr int kClientWidth = 3795, kClientHeight = 3165;  // twips
constexpr int kColumnWidth = 1440;
const QColor kStatusText(255, 0, 0);
constexpr std::chrono::seconds kIdleWait{60};

int LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int dpi = screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchX())) : kDesignDpi;
  return dpi > 0 ? dpi : kDesignDpi;
}

}  // namespace

SelectionWindow::SelectionWindow(QWidget* owner, const QIcon& icon) : QDialog(owner) {
  // A fixed border, no minimize or maximize box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("Select BT device"));
  setWindowIcon(icon);
  setObjectName(QStringLiteral("fmMain1"));
  const int dpi = LogicalDpi();
  auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
  setFixedSize(px(kClientWidth), px(kClientHeight));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  auto button = [&](const char* caption, const char* name, int left, int top) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    // Enter must never start a discovery (it would wipe the list): no
    // button takes Enter for itself; the default one, "Select", gets it.
    b->setAutoDefault(false);
    b->setGeometry(px(left), px(top), px(1155), px(495));
    return b;
  };
  // In tab order: Discover, the list, Select, Cancel.
  QPushButton* discover = button("Discover", "btDiscover", 120, 120);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Label1"));
  status_->setTextFormat(Qt::PlainText);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status_->setGeometry(px(1440), px(300), px(2175), px(255));
  QPalette red = status_->palette();
  red.setColor(QPalette::WindowText, kStatusText);
  status_->setPalette(red);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("lvDevices"));
  list_->setGeometry(px(120), px(720), px(3495), px(1695));
  list_->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
  list_->setColumnCount(2);
  list_->header()->setStretchLastSection(false);
  list_->setColumnWidth(0, px(kColumnWidth));
  list_->setColumnWidth(1, px(kColumnWidth));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  QPushButton* select = button("Select", "btConnect", 120, 2520);
  select->setDefault(true);
  QPushButton* cancel = button("Cancel", "Command1", 2460, 2520);
  setTabOrder(discover, list_);
  setTabOrder(list_, select);
  setTabOrder(select, cancel);

  auto handle = [this](void (DeviceSelection::*click)()) {
    return [this, click] {
      RunGuarded([&] {
        if (logic) (logic->*click)();
      });
    };
  };
  connect(discover, &QPushButton::clicked, this, handle(&DeviceSelection::btDiscover_Click));
  connect(select, &QPushButton::clicked, this, handle(&DeviceSelection::btConnect_Click));
  connect(cancel, &QPushButton::clicked, this, handle(&DeviceSelection::Command1_Click));
}

void SelectionWindow::SetStatus(const std::string& text) { status_->setText(QString::fromStdString(text)); }

void SelectionWindow::ClearRows() { list_->clear(); }

void SelectionWindow::AddRow(const std::string& address, const std::string& name) {
  auto* row = new QTreeWidgetItem(list_);
  row->setText(0, QString::fromStdString(address));
  row->setText(1, QString::fromStdString(name));
}

std::optional<std::string> SelectionWindow::SelectedAddress() const {
  const QList<QTreeWidgetItem*> rows = list_->selectedItems();
  if (rows.isEmpty()) return std::nullopt;
  return rows.front()->text(0).toStdString();
}

void SelectionWindow::reject() {
  RunGuarded([this] {
    if (logic) logic->Command1_Click();
  });
}

void SelectionWindow::closeEvent(QCloseEvent* event) {
  closed_ = true;
  event->ignore();  // RunModal hides it
}

void RunModal(SelectionWindow& window, DeviceSelection& logic, QtEventPump& pump) {
  window.logic = &logic;
  logic.Form_Load();
  // Modal: no other window of the program takes input until this one closes.
  window.setWindowModality(Qt::ApplicationModal);
  window.show();
  window.raise();
  window.activateWindow();
  while (!window.closed() && !pump.QuitRequested()) {
    pump.ProcessPending();
    if (window.closed()) break;
    pump.WaitForEvent(kIdleWait);
  }
  logic.Form_Unload();
  window.logic = nullptr;
  window.hide();
  if (QWidget* owner = window.parentWidget(); owner && owner->isVisible()) owner->activateWindow();
}

void RunSelectionWindow(QWidget* owner, const QIcon& icon, QtEventPump& pump, LibraryManager& library,
                        wclBluetoothDiscovery& discovery, std::string& deviceAddress, IControls& mainWindow) {
  SelectionWindow window(owner, icon);
  QtDialogs dialogs(&window);
  DeviceSelection logic({window, pump, dialogs, library, discovery, deviceAddress, mainWindow});
  RunModal(window, logic, pump);
}

}  // namespace tarvik::lnx
