// The main window RX in Qt Widgets, seen by the logic as IControls: every
// control placed from the design's table in twips at the screen's logical
// dots per inch, with the design's captions, colours and focus order.
#pragma once
#include <QIcon>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "core/controls.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace tarvik::lnx {

class RxWindow : public QWidget, public IControls {
 public:
  // Builds the window and its controls, hidden.
  RxWindow();

  // A list or check box changed, by the user or by the program.
  std::function<void(Ctl)> onChange;
  // The close box (or the session ending): the window goes right after.
  std::function<void()> onClose;
  // A push button was clicked, by its control name's id (ControlId).
  std::function<void(int)> onClick;
  // Minimized or restored: the window's resize handler.
  std::function<void()> onStateChange;
  // "Rules..." from the window's context menu.
  std::function<void()> onRules;

  const QIcon& icon() const { return icon_; }
  int dpi() const { return dpi_; }
  // A control by its design name ("Combo9", "Command3"); null when there is none.
  QWidget* Control(std::string_view name) const;

  // Out of the user's sight: iconified, or hidden in the tray or out of the
  // way after a minimize (a withdrawn window has no state of its own on X11,
  // where on Windows it stays iconic while hidden).
  bool OutOfSight() const { return isMinimized() || hiddenAway_; }
  void HideInTray();
  // Where the desktop will not minimize the window (a tiling compositor,
  // or any Wayland one, which never says whether it did): hidden instead,
  // out of sight as a minimized window is, and the state change raised as a
  // minimize's is.
  void HideOutOfTheWay();
  void ShownAgain() { hiddenAway_ = false; }

  void AddItem(Ctl list, std::string_view text) override;
  int ListCount(Ctl list) const override;
  int ListIndex(Ctl list) const override;
  void SetListIndex(Ctl list, int index) override;
  std::string ItemText(Ctl list, int index) const override;
  int CheckValue(Ctl box) const override;
  void SetCheckValue(Ctl box, int value) override;
  std::string Caption(Ctl label) const override;
  void SetCaption(Ctl label, std::string_view text) override;
  bool TypesRecords() const override { return OutOfSight(); }
  void SetLinkColour(bool linkOpen) override;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  QComboBox* List(Ctl ctl) const;
  QCheckBox* Check(Ctl ctl) const;
  QLabel* Label(Ctl ctl) const;
  void Raise(Ctl ctl);
  int Px(int twips) const;

  int dpi_ = 0;
  QIcon icon_;
  std::map<std::string, QWidget*, std::less<>> byName_;
  std::map<Ctl, QComboBox*> lists_;
  std::map<Ctl, QCheckBox*> checks_;
  std::map<Ctl, QLabel*> labels_;
  bool hiddenAway_ = false;
};

}  // namespace tarvik::lnx
