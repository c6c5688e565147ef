// fmMain1 on Linux: "Select BT device", a Qt dialog modal over the main
// window, with its own library manager and discovery object.
#pragma once
#include <QDialog>

#include <optional>
#include <string>

#include "link/device_selection.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tarvik::lnx {

class QtEventPump;

class SelectionWindow : public QDialog, public ISelectionView {
 public:
  // Builds the window, hidden, centred on the screen.
  SelectionWindow(QWidget* owner, const QIcon& icon);

  bool closed() const { return closed_; }
  DeviceSelection* logic = nullptr;
  QTreeWidget* list() const { return list_; }

  void SetStatus(const std::string& text) override;
  void ClearRows() override;
  void AddRow(const std::string& address, const std::string& name) override;
  std::optional<std::string> SelectedAddress() const override;
  void Close() override { closed_ = true; }

 protected:
  // Esc: "Cancel".
  void reject() override;
  // The close box: nothing is stored.
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* status_ = nullptr;
  QTreeWidget* list_ = nullptr;
  bool closed_ = false;
};

// Shows the window modally and returns when it has closed; the link, the
// timers and the rest of the program run on in the same event loop.
void RunModal(SelectionWindow& window, DeviceSelection& logic, QtEventPump& pump);

// The selection window with the library objects it is given (its own, made
// for it by the caller). Stores the pick, if any, in deviceAddress and the
// main window's Label25.
void RunSelectionWindow(QWidget* owner, const QIcon& icon, QtEventPump& pump, LibraryManager& library,
                        wclBluetoothDiscovery& discovery, std::string& deviceAddress, IControls& mainWindow);

}  // namespace tarvik::lnx
