// The program a pattern compiles to, shared by its compiler
// (core/pattern_compile.cpp) and its matcher (core/pattern.cpp); nothing
// else includes this.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::pattern_detail {

inline constexpr std::size_t kUnset = std::u32string_view::npos;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

using Range = std::pair<char32_t, char32_t>;  // inclusive

struct CharSet {
  std::uint64_t ascii[2] = {0, 0};
  std::vector<Range> high;  // sorted, disjoint, all at or above 128
  bool Has(char32_t c) const {
    if (c < 128) return (ascii[c >> 6] >> (c & 63)) & 1;
    auto above = std::upper_bound(high.begin(), high.end(), c,
                                  [](char32_t v, const Range& r) { return v < r.first; });
    return above != high.begin() && c <= (above - 1)->second;
  }
};

inline bool IsLineEnd(char32_t c) { return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029; }
inline bool IsWord(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
inline bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }

// clang-format off
enum class Op : std::uint8_t {
  kChar, kAny, kClass,  // one character
  kStar, kStarLazy,     // `unit` repeated x..y times, with one choice point for all of them
  kSplit, kJmp, kSave, kReset, kMark, kCheck,
  kBol, kEol, kWordB, kNotWordB, kBackref, kLook, kLookEnd, kMatch
};
// clang-format on

struct Inst {
  Op op;
  Op unit = Op::kChar;  // kStar: the one-character test it repeats
  bool negative = false;
  std::uint32_t arg = 0;  // character, set, slot, register or group
  // kSplit: the first and second choice; kJmp, kLook: where to go on (past
  // the body); kStar: min and max count; kReset: the slots [x, y) to clear.
  std::uint32_t x = 0, y = 0;
};

struct Compiled {
  std::vector<Inst> code;
  std::vector<CharSet> sets;
  std::size_t groups = 0;
  std::size_t slots = 0;  // two per group and the whole match, then the loop registers

  // Where a match can start: position 0 is always tried, a later one only if
  // its character passes this filter (or, at the very end, if the pattern can
  // match there at all).
  bool anchored = false, anyStart = false, anyHighStart = false, canMatchAtEnd = false;
  std::uint64_t startAscii[2] = {0, 0};
  std::vector<std::uint32_t> startTests;  // one-character instructions to try past ASCII
  bool leadingStar = false;               // code[1] is an unbounded star (`.*x`)
  // A character every match holds, if the pattern has one outside any
  // choice: no match can start after its last place in the text.
  std::optional<char32_t> required;

  bool Unit(Op unit, std::uint32_t arg, char32_t c) const {
    switch (unit) {
      case Op::kChar: return c == arg;
      case Op::kAny: return !IsLineEnd(c);
      default: return sets[arg].Has(c);
    }
  }
  bool CanStartWith(char32_t c) const {
    if (anyStart) return true;
    if (c < 128) return (startAscii[c >> 6] >> (c & 63)) & 1;
    if (anyHighStart) return true;
    for (std::uint32_t pc : startTests) {
      const Inst& in = code[pc];
      if (Unit(in.op == Op::kStar || in.op == Op::kStarLazy ? in.unit : in.op, in.arg, c))
        return true;
    }
    return false;
  }
};

// Parses and compiles `source`; false, with a short reason, when it is no
// pattern this engine takes.
// `built` grows by the bytes its parse tree and sets took.
bool CompileProgram(std::u32string_view source, Compiled& program, std::string& error,
                    std::size_t& built);

}  // namespace tarvik::pattern_detail
