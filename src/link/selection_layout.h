// The device selection window's controls, in twips from the client area's
// top-left corner, in focus order; each platform scales them to its screen.
#pragma once
#include <array>
#include <string_view>

namespace tarvik {

enum class SelectionControl { kDiscover, kStatus, kDevices, kSelect, kCancel };

struct SelectionSpec {
  SelectionControl control;
  std::string_view caption;
  int left, top, width, height;
};

inline constexpr std::string_view kSelectionCaption = "Select BT device";
inline constexpr int kSelectionWidthTwips = 3795, kSelectionHeightTwips = 3165;
// The device list's two columns, "Address" and "Name", each this wide.
inline constexpr int kSelectionColumnTwips = 1440;

inline constexpr std::array<SelectionSpec, 5> kSelectionControls = {{
    {SelectionControl::kDiscover, "Discover", 120, 120, 1155, 495},
    {SelectionControl::kStatus, "", 1440, 300, 2175, 255},
    {SelectionControl::kDevices, "", 120, 720, 3495, 1695},
    {SelectionControl::kSelect, "Select", 120, 2520, 1155, 495},
    {SelectionControl::kCancel, "Cancel", 2460, 2520, 1155, 495},
}};

}  // namespace tarvik
