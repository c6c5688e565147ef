// fmMain1, "Select BT device": discovers devices in range and lets the user
// pick the reader. It keeps its own library objects; it stores the choice in
// DeviceAddress and the main window's Label25, and writes no file.
#pragma once
#include <optional>
#include <string>

#include "link/wireless.h"
#include "core/controls.h"

namespace tarvik {

class IEventPump;
class IDialogs;

// The selection window's own controls.
class ISelectionView {
 public:
  virtual ~ISelectionView() = default;
  virtual void SetStatus(const std::string& text) = 0;  // Label1
  virtual void ClearRows() = 0;
  virtual void AddRow(const std::string& address, const std::string& name) = 0;
  // The first column of the selected row, if a row is selected.
  virtual std::optional<std::string> SelectedAddress() const = 0;
  virtual void Close() = 0;
};

// "Error " then the code: a code of 0 or more stands after a blank, so a
// positive code stands two blanks after the word.
std::string ReadNameErrorText(std::int32_t code);

class DeviceSelection {
 public:
  struct Parts {
    ISelectionView& view;
    IEventPump& pump;
    IDialogs& dialogs;
    LibraryManager& library;
    wclBluetoothDiscovery& discovery;
    std::string& deviceAddress;
    IControls& mainWindow;  // for Label25
  };
  explicit DeviceSelection(Parts parts) : p_(std::move(parts)) {}

  void Form_Load();
  void Form_Unload();
  void btDiscover_Click();
  void btConnect_Click();  // "Select"
  void Command1_Click();   // "Cancel"
  void OnDiscoveryStarted(const Radio& radio);
  void OnDiscoveryComplete(const Radio& radio, const std::optional<DeviceList>& devices);

 private:
  Parts p_;
  bool loaded_ = false;
};

}  // namespace tarvik
