// fmMain1 on Windows: "Select BT device", modal over the main window, with
// its own library manager and discovery object.
#pragma once
#include <optional>
#include <string>

#include "link/device_selection.h"
#include "core/win/unique_any.h"

namespace tarvik::win {

class Win32EventPump;

class SelectionWindow : public ISelectionView {
 public:
  // Control ids. Enter and Esc reach the window as the dialog manager's IDOK
  // and IDCANCEL, so those are "Select" and "Cancel": Enter must never start
  // a discovery, which would wipe the list.
  static constexpr int kSelect = IDOK, kCancel = IDCANCEL, kDiscover = 3, kStatus = 4, kDevices = 5;

  // Creates the window, hidden; throws std::runtime_error with what failed.
  SelectionWindow(HWND owner, HICON icon);
  SelectionWindow(const SelectionWindow&) = delete;
  SelectionWindow& operator=(const SelectionWindow&) = delete;

  HWND hwnd() const { return hwnd_.get(); }
  HWND list() const { return list_; }
  bool closed() const { return closed_; }
  DeviceSelection* logic = nullptr;

  void SetStatus(const std::string& text) override;
  void ClearRows() override;
  void AddRow(const std::string& address, const std::string& name) override;
  std::optional<std::string> SelectedAddress() const override;
  void Close() override { closed_ = true; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

  UniqueGdiObject font_;
  // After the font: the window and its controls go first.
  UniqueHwnd hwnd_;
  HWND status_ = nullptr, list_ = nullptr;  // children: they go with the window
  bool closed_ = false;
};

// Shows the window modally over `owner` (which may be none) and returns when
// it has closed.
void RunModal(SelectionWindow& window, DeviceSelection& logic, HWND owner, Win32EventPump& pump);

// The selection window with its own library objects. Stores the pick, if
// any, in deviceAddress and the main window's Label25.
void RunSelectionWindow(HWND owner, HICON icon, Win32EventPump& pump, std::string& deviceAddress,
                        IControls& mainWindow);

}  // namespace tarvik::win
