// The main window's controls: kind, caption and place in twips from the
// client area's top-left corner. The Windows side creates them from this
// table, scaled with the display's real pixels per inch.
#pragma once
#include <optional>
#include <span>
#include <string_view>

#include "shell/controls.h"

namespace tarvik {

enum class ControlKind { Button, Label, List, Check, Picture };

struct ControlSpec {
  std::string_view name;
  ControlKind kind;
  std::string_view caption;
  int left, top, width, height;  // twips
  std::optional<Ctl> ctl;        // how the logic names it, where it does
};

inline constexpr int kRxClientWidthTwips = 4470;
inline constexpr int kRxClientHeightTwips = 4575;
inline constexpr std::string_view kRxCaption = "QUILLMARKS Tarvik";

// In reading order; the hidden list Combo6 is not among them.
std::span<const ControlSpec> RxControls();
// Keyboard focus order.
std::span<const std::string_view> RxTabOrder();

// Twips to pixels at `dpi` pixels per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

}  // namespace tarvik
