// GS1 element strings (GS1-128, GS1 DataMatrix, GS1 QR, DataBar, DotCode):
// application identifiers and their data, separated by GS where a field of
// variable length ends, as the human-readable form "(01)09501101020917(10)AB".
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

inline constexpr char32_t kGroupSeparator = 0x1D;

// The AIM symbology identifiers that mark GS1 data.
bool IsGs1Symbology(std::u32string_view aimId);  // "]C1", "]e0", "]d2", "]Q3", "]J1"

// The element string `data` (after any AIM identifier) in the human-readable
// form, or nothing when GS1 would not accept it: an unknown identifier, data
// of the wrong length or characters for a component, a wrong check digit or
// date, an empty field, two separators in a row. A leading GS (FNC1 in first
// position, as some readers send it) and one trailing GS are allowed. A '('
// in the data is written "\(", so that the form reads back as the same
// fields.
std::optional<std::u32string> FormatGs1(std::u32string_view data);

}  // namespace tarvik
