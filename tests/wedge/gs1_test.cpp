// GS1 element strings as readers send them, and their human-readable form.
#include "wedge/gs1.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarvik {
namespace {

std::optional<std::string> Formatted(std::string_view text) {
  std::u32string data;  // '|' stands for GS, which cannot be seen in a table
  for (unsigned char c : text) data += c == '|' ? kGroupSeparator : static_cast<char32_t>(c);
  const std::optional<std::u32string> result = FormatGs1(data);
  if (!result) return std::nullopt;
  std::string out;
  for (char32_t c : *result) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

TEST(Gs1, ElementStrings) {
  const std::pair<std::string_view, std::string> formatted[] = {
      // Predefined lengths need no GS; variable ones end at a GS or the end.
      {"0109501101020917" "17190508" "10ABCD1234|2110", "(01)09501101020917(17)190508(10)ABCD1234(21)10"},
      {"00106141411234567897", "(00)106141411234567897"},
      {"01095011010209173103000750", "(01)09501101020917(3103)000750"},
      {"4149501101020016|0109501101020917", "(414)9501101020016(01)09501101020917"},
      {"8020ABC-123/x|4159501101020016", "(8020)ABC-123/x(415)9501101020016"},
      {"90INT-1|91A", "(90)INT-1(91)A"},
      {"2539501101020917XY", "(253)9501101020917XY"},
      {"70011234567890123|10A", "(7001)1234567890123(10)A"},
      // One leading and one trailing GS, and a GS after a predefined field.
      {"|0109501101020917", "(01)09501101020917"},
      {"10AB|", "(10)AB"},
      {"0109501101020917|10AB|", "(01)09501101020917(10)AB"},
      // Without a GS, what follows joins the variable data.
      {"10ABCD123421123", "(10)ABCD123421123"},
  };
  for (const auto& [data, expected] : formatted) EXPECT_EQ(Formatted(data), expected) << data;
  const std::string_view refused[] = {
      "90INT 1",  // a space is not GS1 data
      "10ABCD12342112345678901",  // the joined data too long
      // Unknown identifiers, or decimal positions never assigned.
      "2301234", "3106000750",
      // Data of the wrong length or kind.
      "0109501101020", "10ABCDEFGHIJKLMNOPQRSTU", "700112345678901234|10A", "17ABCDEF", "0109501101O20917",
      "421ABC123",
      // Separators where a field or an identifier should be.
      "10AB||21X", "10|21X", "10AB|||", "||0109501101020917", "0109501101020917" "10", "0109501101020917" "3",
      "", "|"};
  for (const auto data : refused) EXPECT_EQ(Formatted(data), std::nullopt) << data;
}

TEST(Gs1, Symbologies) {
  for (std::u32string_view id : {U"]C1", U"]e0", U"]d2", U"]Q3", U"]J1"}) EXPECT_TRUE(IsGs1Symbology(id));
  for (std::u32string_view id : {U"]C0", U"]E0", U"]d1", U"]Q1", U"]J0", U"]c1", U"", U"]C1 "})
    EXPECT_FALSE(IsGs1Symbology(id));
}

}  // namespace
}  // namespace tarvik
