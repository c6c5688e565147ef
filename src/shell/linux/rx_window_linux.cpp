#include "shell/linux/rx_window_linux.h"

#include <QAction>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <cmath>
#include <stdexcept>

#include "core/linux/dialogs_linux.h"
#include "shell/linux/fonts_linux.h"
#include "shell/rx_layout.h"

namespace tarvik::lnx {
namespace {

QColor Colour(Rgb c) { return QColor(c.red, c.green, c.blue); }
const QColor kGrey = Colour(kWindowGrey);
const QColor kText = Colour(kBlack);
const QColor kLineText = Colour(kLastLineText);
const QColor kLinkOpen = Colour(kLinkOpenColour);
const QColor kLinkClosed = Colour(kLinkClosedColour);
const QColor kCaptionText = Colour(kWebCaptionText);

QFont Font(const FontSpec& f) {
  constexpr double kTenthsPerPoint = 10.0;
  return MakeFont(QString::fromUtf8(f.face.data(), static_cast<int>(f.face.size())),
                  f.tenthPoints / kTenthsPerPoint);
}

// The pictures' own sizes in pixels at 96 dpi.
constexpr int kDesignDpi = 96;
constexpr int kExitWidth = 59, kExitHeight = 55;
constexpr int kListRowsShown = 8;  // the design gives an open list eight rows' height
constexpr char kIconFile[] = ":/tarvik/tarvik.ico";
constexpr char kLogoFile[] = ":/tarvik/logo.bmp";
constexpr char kExitFile[] = ":/tarvik/exit.bmp";

int LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int dpi = screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchX())) : kDesignDpi;
  return dpi > 0 ? dpi : kDesignDpi;
}

void Paint(QWidget* w, QPalette::ColorRole role, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(role, colour);
  w->setPalette(p);
}

}  // namespace

RxWindow::RxWindow() : dpi_(LogicalDpi()), icon_(QString::fromLatin1(kIconFile)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);  // no maximize box
  setWindowTitle(QString::fromUtf8(kRxCaption.data(), static_cast<int>(kRxCaption.size())));
  setWindowIcon(icon_);
  setObjectName(QStringLiteral("RX"));
  setAutoFillBackground(true);
  Paint(this, QPalette::Window, kGrey);
  setFont(Font(kBodyFont));
  resize(Px(kRxClientWidthTwips), Px(kRxClientHeightTwips));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  CreateControls();
  // Right-click on the window: where a menu is looked for on a window that
  // has no menu bar, and the layout stays as it is.
  auto* rules = new QAction(QStringLiteral("&Rules\u2026"), this);
  connect(rules, &QAction::triggered, [this] {
    RunOrStop("Opening the rules file", [this] {
      if (onRules) onRules();
    });
  });
  addAction(rules);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

int RxWindow::Px(int twips) const { return TwipsToPixels(twips, dpi_); }

void RxWindow::CreateControls() {
  for (const ControlSpec& s : RxControls()) {
    const QString caption = QString::fromUtf8(s.caption.data(), static_cast<int>(s.caption.size()));
    QWidget* w = nullptr;
    switch (s.kind) {
      case ControlKind::Button:
        if (s.look == Look::kQuitButton) {
          // Quit: the exit symbol above its caption.
          auto* b = new QToolButton(this);
          b->setText(caption);
          b->setIcon(QIcon(QString::fromLatin1(kExitFile)));
          b->setIconSize(QSize(kExitWidth * dpi_ / kDesignDpi, kExitHeight * dpi_ / kDesignDpi));
          b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
          b->setFocusPolicy(Qt::StrongFocus);
          connect(b, &QToolButton::clicked, this, [this, id = ControlId(s.name)] {
            RunOrStop("A click on a button", [&] {
              if (onClick) onClick(id);
            });
          });
          w = b;
        } else {
          auto* b = new QPushButton(caption, this);
          b->setAutoDefault(false);
          connect(b, &QPushButton::clicked, this, [this, id = ControlId(s.name)] {
            RunOrStop("A click on a button", [&] {
              if (onClick) onClick(id);
            });
          });
          w = b;
        }
        break;
      case ControlKind::Check: {
        auto* c = new QCheckBox(caption, this);
        c->setChecked(true);  // both start checked
        if (s.ctl) {
          checks_[*s.ctl] = c;
          connect(c, &QCheckBox::toggled, this, [this, ctl = *s.ctl] { Raise(ctl); });
        }
        w = c;
        break;
      }
      case ControlKind::List: {
        auto* c = new QComboBox(this);
        c->setMaxVisibleItems(kListRowsShown);
        if (s.ctl) {
          lists_[*s.ctl] = c;
          connect(c, &QComboBox::currentIndexChanged, this, [this, ctl = *s.ctl] { Raise(ctl); });
        }
        w = c;
        break;
      }
      case ControlKind::Label: {
        // One line each, clipped at the box, never wrapped; no mnemonics.
        auto* l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->setText(caption);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Paint(l, QPalette::WindowText, kText);
        if (s.look == Look::kAddress) {
          l->setAlignment(Qt::AlignCenter);
          l->setFont(Font(kAddressFont));
          l->setAutoFillBackground(true);
          Paint(l, QPalette::Window, kLinkClosed);
        } else if (s.look == Look::kLastLine) {
          l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
          l->setFont(Font(kLastLineFont));
          l->setAutoFillBackground(true);
          Paint(l, QPalette::Window, kText);
          Paint(l, QPalette::WindowText, kLineText);
        } else if (s.look == Look::kWebCaption) {
          l->setFont(Font(kWebCaptionFont));
          Paint(l, QPalette::WindowText, kCaptionText);
        } else if (s.look == Look::kSystemText) {
          l->setPalette(QGuiApplication::palette());  // the desktop's own text colour
        }
        if (s.ctl) labels_[*s.ctl] = l;
        w = l;
        break;
      }
      case ControlKind::Picture: {
        // The logo fills its box, which the design sizes to the picture.
        auto* p = new QLabel(this);
        p->setPixmap(QPixmap(QString::fromLatin1(kLogoFile)));
        p->setScaledContents(true);
        w = p;
        break;
      }
    }
    w->setObjectName(QString::fromUtf8(s.name.data(), static_cast<int>(s.name.size())));
    w->setGeometry(Px(s.left), Px(s.top), Px(s.width), Px(s.height));
    byName_.emplace(std::string(s.name), w);
  }
  // The list that holds a number the user never sees.
  auto* hidden = new QComboBox(this);
  hidden->setObjectName(QStringLiteral("Combo6"));
  hidden->setFocusPolicy(Qt::NoFocus);
  hidden->hide();
  lists_[Ctl::Combo6] = hidden;
  connect(hidden, &QComboBox::currentIndexChanged, this, [this] { Raise(Ctl::Combo6); });
  byName_.emplace("Combo6", hidden);

  const auto order = RxTabOrder();
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(Control(order[i - 1]), Control(order[i]));
}

QWidget* RxWindow::Control(std::string_view name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

QComboBox* RxWindow::List(Ctl ctl) const {
  const auto it = lists_.find(ctl);
  if (it == lists_.end()) throw std::logic_error("no such list on the main window");
  return it->second;
}

QCheckBox* RxWindow::Check(Ctl ctl) const {
  const auto it = checks_.find(ctl);
  if (it == checks_.end()) throw std::logic_error("no such check box on the main window");
  return it->second;
}

QLabel* RxWindow::Label(Ctl ctl) const {
  const auto it = labels_.find(ctl);
  if (it == labels_.end()) throw std::logic_error("no such label on the main window");
  return it->second;
}

void RxWindow::Raise(Ctl ctl) {
  RunOrStop("A change in the window", [&] {
    if (onChange) onChange(ctl);
  });
}

void RxWindow::AddItem(Ctl list, std::string_view text) {
  QComboBox* c = List(list);
  // A Qt list selects its first entry by itself; a Windows one selects
  // nothing until told, and says nothing about it.
  const QSignalBlocker quiet(c);
  const int before = c->currentIndex();
  c->addItem(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
  c->setCurrentIndex(before);
}

int RxWindow::ListCount(Ctl list) const { return List(list)->count(); }

int RxWindow::ListIndex(Ctl list) const { return List(list)->currentIndex(); }

void RxWindow::SetListIndex(Ctl list, int index) {
  if (index < -1 || index >= ListCount(list)) throw std::out_of_range("Selecting an entry outside the list");
  // Raises the change (through currentIndexChanged) only when it is one.
  List(list)->setCurrentIndex(index);
}

std::string RxWindow::ItemText(Ctl list, int index) const {
  if (index < 0 || index >= ListCount(list)) throw std::out_of_range("Reading an entry outside the list");
  return List(list)->itemText(index).toStdString();
}

int RxWindow::CheckValue(Ctl box) const { return Check(box)->isChecked() ? 1 : 0; }

void RxWindow::SetCheckValue(Ctl box, int value) {
  // Raises the change (through toggled) only when it is one.
  Check(box)->setChecked(value != 0);
}

std::string RxWindow::Caption(Ctl label) const { return Label(label)->text().toStdString(); }

void RxWindow::SetCaption(Ctl label, std::string_view text) {
  Label(label)->setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

void RxWindow::SetLinkColour(bool linkOpen) {
  Paint(Label(Ctl::Label25), QPalette::Window, linkOpen ? kLinkOpen : kLinkClosed);
}

void RxWindow::HideInTray() {
  hiddenAway_ = OutOfSight();
  hide();
}

void RxWindow::HideOutOfTheWay() {
  hiddenAway_ = true;
  hide();
  RunOrStop("A change of the window's state", [&] {
    if (onStateChange) onStateChange();
  });
}

void RxWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  if (!isMinimized() && isVisible()) hiddenAway_ = false;
  RunOrStop("A change of the window's state", [&] {
    if (onStateChange) onStateChange();
  });
}

void RxWindow::closeEvent(QCloseEvent* event) {
  RunOrStop("Closing the window", [&] {
    if (onClose) onClose();
  });
  event->accept();
}

}  // namespace tarvik::lnx
