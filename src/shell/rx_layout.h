// The main window's controls: kind, caption and place in twips from the
// client area's top-left corner. The Windows side creates them from this
// table, scaled with the display's real pixels per inch.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/controls.h"
#include "core/twips.h"

namespace tarvik {

enum class ControlKind { Button, Label, List, Check, Picture };

// How a control looks beyond what its kind gives it.
enum class Look {
  kPlain,       // the body font, black on the window's grey
  kQuitButton,  // draws the exit symbol above its caption
  kAddress,     // centred in the large font, green with a link, red without
  kLastLine,    // a bordered box, the line font, green on black
  kWebCaption,  // the small serif font in dark blue
  kSystemText,  // a label in the desktop's own text colour
  kLogo,        // the logo picture
};

struct ControlSpec {
  std::string_view name;
  ControlKind kind;
  std::string_view caption;
  int left, top, width, height;  // twips
  std::optional<Ctl> ctl;        // how the logic names it, where it does
  Look look = Look::kPlain;
};

// The window's colours, each used for a brush and a text colour alike: the
// two must agree or a label shows a seam.
struct Rgb {
  std::uint8_t red, green, blue;
};
inline constexpr Rgb kWindowGrey{224, 224, 224};  // the window and its labels
inline constexpr Rgb kBlack{0, 0, 0};             // label text; the last line's background
inline constexpr Rgb kLastLineText{0, 255, 0};
inline constexpr Rgb kLinkOpenColour{0, 192, 0};    // the address with a link
inline constexpr Rgb kLinkClosedColour{255, 0, 0};  // and without one
inline constexpr Rgb kWebCaptionText{0, 0, 192};

// The design's faces and sizes; each platform finds stand-ins of the same kind.
struct FontSpec {
  std::string_view face;
  int tenthPoints;  // 135 for 13.5 point
};
inline constexpr FontSpec kBodyFont{"MS Sans Serif", 80};
inline constexpr FontSpec kAddressFont{"MS Sans Serif", 135};
inline constexpr FontSpec kLastLineFont{"MS Sans Serif", 120};
inline constexpr FontSpec kWebCaptionFont{"MS Serif", 68};

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
