// The main window's controls: kind, caption and place in twips from the
// client area's top-left corner. The Windows side creates them from this
// table, scaled with the display's real pixels per inch.
#pragma once
#include <optional>
#include <span>
#include <string_view>

#include "core/controls.h"
#include "core/twips.h"

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

// A control's window identifier, from its name: Combo n is 1000 + n, Check
// 1100 + n, Label 1200 + n, Command 1300 + n, Picture 1400 + n. Tools that
// drive the window rely on it.
constexpr int ControlId(std::string_view name) {
  struct Base { std::string_view kind; int base; };
  constexpr Base bases[] = {{"Combo", 1000}, {"Check", 1100}, {"Label", 1200}, {"Command", 1300},
                            {"Picture", 1400}};
  for (const auto& b : bases) {
    if (name.substr(0, b.kind.size()) != b.kind) continue;
    int n = 0;
    for (char c : name.substr(b.kind.size())) n = n * 10 + (c - '0');
    return b.base + n;
  }
  return 0;
}

}  // namespace tarvik
