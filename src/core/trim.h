// Cutting characters off both ends of a text.
#pragma once
#include <string_view>

namespace tarvik {

// What std::isspace takes for space in the "C" locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

constexpr std::string_view Trim(std::string_view text, std::string_view chars = kWhiteSpace) {
  const auto first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(chars) - first + 1);
}

static_assert(Trim("  {TAB} ", " ") == "{TAB}" && Trim(" \t ").empty() && Trim("x") == "x");

}  // namespace tarvik
