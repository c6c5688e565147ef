#include "link/linux/selection_window_linux.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <cmath>
#include <stdexcept>
#include <string_view>

#include "core/linux/dialogs_linux.h"
#include "core/linux/event_pump_linux.h"
#include "link/selection_layout.h"
#include "core/twips.h"

namespace tarvik::lnx {
namespace {

constexpr int kDesignDpi = 96;
const QColor kStatusText(255, 0, 0);
constexpr std::chrono::seconds kIdleWait{60};

int LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int dpi = screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchX())) : kDesignDpi;
  return dpi > 0 ? dpi : kDesignDpi;
}

const SelectionSpec& EntryFor(SelectionControl control) {
  for (const SelectionSpec& s : kSelectionControls)
    if (s.control == control) return s;
  throw std::logic_error("the selection window's table lacks a control");
}

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

}  // namespace

SelectionWindow::SelectionWindow(QWidget* owner, const QIcon& icon) : QDialog(owner) {
  // A fixed border, no minimize or maximize box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(Text(kSelectionCaption));
  setWindowIcon(icon);
  setObjectName(QStringLiteral("fmMain1"));
  const int dpi = LogicalDpi();
  auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
  setFixedSize(px(kSelectionWidthTwips), px(kSelectionHeightTwips));
  auto place = [&](QWidget* w, SelectionControl control) {
    const SelectionSpec& s = EntryFor(control);
    w->setGeometry(px(s.left), px(s.top), px(s.width), px(s.height));
  };
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  auto button = [&](SelectionControl control, const char* name) {
    auto* b = new QPushButton(Text(EntryFor(control).caption), this);
    b->setObjectName(QString::fromLatin1(name));
    // Enter must never start a discovery (it would wipe the list): no
    // button takes Enter for itself; the default one, "Select", gets it.
    b->setAutoDefault(false);
    place(b, control);
    return b;
  };
  // In tab order: Discover, the list, Select, Cancel.
  QPushButton* discover = button(SelectionControl::kDiscover, "btDiscover");
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Label1"));
  status_->setTextFormat(Qt::PlainText);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(status_, SelectionControl::kStatus);
  QPalette red = status_->palette();
  red.setColor(QPalette::WindowText, kStatusText);
  status_->setPalette(red);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("lvDevices"));
  place(list_, SelectionControl::kDevices);
  list_->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
  list_->setColumnCount(2);
  list_->header()->setStretchLastSection(false);
  list_->setColumnWidth(0, px(kSelectionColumnTwips));
  list_->setColumnWidth(1, px(kSelectionColumnTwips));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  QPushButton* select = button(SelectionControl::kSelect, "btConnect");
  select->setDefault(true);
  QPushButton* cancel = button(SelectionControl::kCancel, "Command1");
  setTabOrder(discover, list_);
  setTabOrder(list_, select);
  setTabOrder(select, cancel);

  auto handle = [this](void (DeviceSelection::*click)()) {
    return [this, click] {
      RunOrStop("A click in the selection window", [&] {
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
  RunOrStop("Closing the selection window", [this] {
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
