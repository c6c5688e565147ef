// The GS1 application identifiers: for each, the components of its data in
// the notation of GS1's Barcode Syntax Dictionary ("N13,csum [X..17]": 13
// digits whose last is a check digit, then optionally 1 to 17 characters of
// set 82), compiled into the form the element string parser walks.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvik::gs1 {

enum class Charset : std::uint8_t {
  kNumeric,  // N: 0-9
  kSet82,    // X: GS1's 82 characters, printable ASCII less space # $ @ [ \ ] ^ ` { | } ~
  kSet39,    // Y: # - / 0-9 A-Z
  kSet64,    // Z: A-Z a-z 0-9 - _ (URL-safe base64), '=' as padding at the end
};

// The content checks a component can carry, by the dictionary's names.
enum class Check : std::uint8_t {
  kNone,
  kMod10,       // csum: GS1's check digit, weights 3 and 1 from the right
  kAlphaPair,   // csumalpha: two check characters, as in a GMN
  kDateDay0,    // yymmd0: YYMMDD, day 00 meaning the end of the month
  kDate,        // yymmdd
  kLongDate,    // yyyymmdd
  kDateHour,    // yymmddhh
  kTime,        // hhmi
  kMinSec,      // mioptsc: MM or MMSS
  kHyphen,      // hyphen: the one character '-'
};

struct Component {
  Charset charset = Charset::kNumeric;
  std::uint8_t minLength = 0;
  std::uint8_t maxLength = 0;
  bool optional = false;
  Check check = Check::kNone;
};

inline constexpr std::size_t kMaxComponents = 5;

struct Identifier {
  std::uint16_t first = 0;  // a range such as 3100-3105, read as numbers
  std::uint16_t last = 0;
  std::uint8_t digits = 0;  // of the identifier itself: 2 to 4
  std::uint8_t count = 0;   // components
  std::array<Component, kMaxComponents> parts{};
  std::string_view format;  // as the dictionary writes it
};

// Every identifier the table knows, in numeric order by their digits.
std::span<const Identifier> Identifiers();

// The identifier at the start of `data`, or nullptr when the table has none.
const Identifier* FindIdentifier(std::u32string_view data);

// Data length of identifiers whose first two digits are these, fixed for
// good, so a reader may leave out the GS after them; 0 for all others.
constexpr int PredefinedLength(int firstTwoDigits) {
  switch (firstTwoDigits) {
    case 0: return 18;
    case 1: case 2: case 3: return 14;
    case 4: return 16;
    case 11: case 12: case 13: case 14: case 15: case 16: case 17: case 18: case 19: return 6;
    case 20: return 2;
    case 31: case 32: case 33: case 34: case 35: case 36: return 6;
    case 41: return 13;
    default: return 0;
  }
}

}  // namespace tarvik::gs1
