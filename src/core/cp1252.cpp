#include "core/cp1252.h"

#include <array>

#include "core/utf8.h"

namespace tarvik {
namespace {

// Bytes 0x80 to 0x9F; the rest of the code page is Latin-1, byte for code point.
constexpr std::uint8_t kTableStart = 0x80;
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};
constexpr char32_t kLatin1End = 0xFF;

char32_t ToCodePoint(std::uint8_t b) {
  if (b >= kTableStart && b < kTableStart + kHigh.size()) return kHigh[b - kTableStart];
  return b;
}

char ToByte(char32_t cp) {
  if (cp < kTableStart) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kHigh.size(); ++i)
    if (kHigh[i] == cp) return static_cast<char>(kTableStart + i);
  // 0xA0 to 0xFF stand for themselves; 0x80 to 0x9F as code points are only
  // the five unassigned bytes, found in the table above.
  if (cp >= kTableStart + kHigh.size() && cp <= kLatin1End) return static_cast<char>(cp);
  return kCp1252Default;
}

}  // namespace

std::string DecodeCp1252(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::uint8_t b : bytes) out += EncodeUtf8(ToCodePoint(b));
  return out;
}

std::string EncodeCp1252(std::string_view utf8) {
  std::string out;
  for (char32_t cp : DecodeUtf8(utf8)) out += ToByte(cp);
  return out;
}

}  // namespace tarvik
