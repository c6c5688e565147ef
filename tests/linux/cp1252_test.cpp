#include "core/cp1252.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvik {
namespace {

TEST(Cp1252, DecodesEachRangeOfTheTable) {
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {{'A', 'b', '1', 0x0D}, "Ab1\r"},
      {{0x80}, "\u20AC"},          // euro sign
      {{0x8A, 0x9F}, "\u0160\u0178"},
      {{0x96, 0x97}, "\u2013\u2014"},
      {{0xA0}, "\u00A0"},
      {{0xC4, 0xE9, 0xFF}, "\u00C4\u00E9\u00FF"},
      {{0x81, 0x9D}, "\u0081\u009D"},  // unassigned: kept as control characters
  };
  for (const auto& [bytes, utf8] : cases) EXPECT_EQ(DecodeCp1252(bytes), utf8) << utf8;
}

TEST(Cp1252, EncodesWhatItHasAndMarksWhatItLacks) {
  const std::pair<std::string, std::string> cases[] = {
      {"Ab1\t", "Ab1\t"},
      {"\u20AC5", "\x80" "5"},
      {"\u00E9t\u00E9", "\xE9t\xE9"},
      {"\u0152\u2122", "\x8C\x99"},
      {"\u0100", "?"},          // Latin Extended-A beyond the table
      {"\u4E2D\u6587", "??"},   // one mark per character, not per byte
      {"\U0001F600", "?"},
      {"\x80", "?"},            // a stray UTF-8 continuation byte
  };
  for (const auto& [utf8, bytes] : cases) EXPECT_EQ(EncodeCp1252(utf8), bytes) << utf8;
}

TEST(Cp1252, EveryByteComesBackUnchanged) {
  std::vector<std::uint8_t> all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  const std::string back = EncodeCp1252(DecodeCp1252(all));
  ASSERT_EQ(back.size(), all.size());
  for (int b = 0; b < 256; ++b) EXPECT_EQ(static_cast<std::uint8_t>(back[b]), b) << "byte " << b;
}

}  // namespace
}  // namespace tarvik
