// fmMain1 on Windows: "Select BT device", modal over the main window, with
// its own library manager and discovery object.
#pragma once
#include <string>

#include "bluetooth/device_selection.h"
#include "common/win/unique_any.h"

namespace tarvik::win {

class Win32EventPump;

// Shows the window and returns when it has closed. Stores the pick, if any,
// in deviceAddress and the main window's Label25.
void RunSelectionWindow(HWND owner, HICON icon, Win32EventPump& pump, std::string& deviceAddress,
                        IControls& mainWindow);

}  // namespace tarvik::win
