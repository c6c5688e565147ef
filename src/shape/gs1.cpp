#include "shape/gs1.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "shape/gs1_table.h"

namespace tarvik {
namespace {

using gs1::Charset;
using gs1::Check;
using gs1::Component;
using gs1::Identifier;

constexpr bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
constexpr bool IsUpper(char32_t c) { return c >= U'A' && c <= U'Z'; }
constexpr bool IsLower(char32_t c) { return c >= U'a' && c <= U'z'; }

// GS1's character set 82, in its own order: a character's place in it is
// its value for the check characters of a GMN.
constexpr std::u32string_view kSet82 =
    U"!\"%&'()*+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
// The 32 characters a GMN's check characters are drawn from.
constexpr std::u32string_view kSet32 = U"23456789ABCDEFGHJKLMNPQRSTUVWXYZ";
constexpr std::size_t kAscii = 128;
constexpr std::size_t kCharsets = 4;
constexpr bool IsIn(char32_t c, Charset set) {
  switch (set) {
    case Charset::kNumeric: return IsDigit(c);
    case Charset::kSet82: return kSet82.find(c) != std::u32string_view::npos;
    case Charset::kSet39: return IsDigit(c) || IsUpper(c) || c == U'#' || c == U'-' || c == U'/';
    case Charset::kSet64: return IsDigit(c) || IsUpper(c) || IsLower(c) || c == U'-' || c == U'_';
  }
  return false;
}
// Looked up for every character of a record: tables, not searches.
constexpr auto kInCharset = [] {
  std::array<std::array<bool, kAscii>, kCharsets> in{};
  for (std::size_t set = 0; set < kCharsets; ++set)
    for (char32_t c = 0; c < kAscii; ++c) in[set][c] = IsIn(c, static_cast<Charset>(set));
  return in;
}();
// Each character's place in set 82, for the check characters.
constexpr auto kPlaceInSet82 = [] {
  std::array<std::uint8_t, kAscii> place{};
  for (std::size_t i = 0; i < kSet82.size(); ++i) place[kSet82[i]] = static_cast<std::uint8_t>(i);
  return place;
}();
constexpr char32_t kPadding = U'=';
constexpr std::size_t kMaxPadding = 2;

bool AllInCharset(std::u32string_view part, Charset set) {
  if (set == Charset::kSet64) {
    // Base64's padding, only at the end.
    std::size_t pad = 0;
    while (pad < kMaxPadding && pad < part.size() && part[part.size() - 1 - pad] == kPadding) ++pad;
    part.remove_suffix(pad);
  }
  const auto& in = kInCharset[static_cast<std::size_t>(set)];
  return std::all_of(part.begin(), part.end(), [&in](char32_t c) { return c < kAscii && in[c]; });
}

int Digits(std::u32string_view part, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) value = value * 10 + static_cast<int>(part[i] - U'0');
  return value;
}

// GS1's mod-10 check digit: weights 3, 1, 3... from the digit before it.
bool Mod10Holds(std::u32string_view digits) {
  constexpr int kOddWeight = 3;
  int sum = 0;
  for (std::size_t i = 1; i < digits.size(); ++i) {
    const int d = static_cast<int>(digits[digits.size() - 1 - i] - U'0');
    sum += i % 2 == 1 ? kOddWeight * d : d;
  }
  return (10 - sum % 10) % 10 == static_cast<int>(digits.back() - U'0');
}

// A GMN's two check characters: each character before them by its place in
// set 82, weighted by the primes from 2 upwards, right to left; the sum
// modulo 1021 is written in two characters of set 32.
bool AlphaPairHolds(std::u32string_view text) {
  constexpr int kPrimes[] = {2,  3,  5,  7,  11, 13, 17, 19, 23, 29, 31, 37,
                             41, 43, 47, 53, 59, 61, 67, 71, 73, 79, 83};
  constexpr int kModulus = 1021;
  constexpr int kPairBase = 32;
  constexpr std::size_t kPair = 2;
  if (text.size() <= kPair || text.size() - kPair > std::size(kPrimes)) return false;
  const std::size_t data = text.size() - kPair;
  int sum = 0;
  // Only called once the characters are known to be of set 82.
  for (std::size_t i = 0; i < data; ++i) sum += kPrimes[data - 1 - i] * kPlaceInSet82[text[i]];
  sum %= kModulus;
  return text[data] == kSet32[static_cast<std::size_t>(sum / kPairBase)] &&
         text[data + 1] == kSet32[static_cast<std::size_t>(sum % kPairBase)];
}

constexpr int kHoursPerDay = 24;
constexpr int kMinutesPerHour = 60;
constexpr int kMonths = 12;
constexpr int kLeapCycle = 4;

int DaysIn(int month, int year, bool fullYear) {
  constexpr int kDays[kMonths] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  constexpr int kFebruary = 2, kCentury = 100, kGregorianCycle = 400;
  // Two-digit years fall within fifty years of today, where every fourth is
  // a leap year (2000 was one, 2100 will not be).
  const bool leap = year % kLeapCycle == 0 &&
                    (!fullYear || year % kCentury != 0 || year % kGregorianCycle == 0);
  return kDays[month - 1] + (month == kFebruary && leap ? 1 : 0);
}

// YYMMDD, or YYYYMMDD with `yearDigits` 4.
bool DateHolds(std::u32string_view part, std::size_t yearDigits, bool dayZero) {
  const int year = Digits(part, 0, yearDigits);
  const int month = Digits(part, yearDigits, 2);
  const int day = Digits(part, yearDigits + 2, 2);
  if (month < 1 || month > kMonths) return false;
  return (day >= 1 || dayZero) && day <= DaysIn(month, year, yearDigits == 4);
}

bool Passes(std::u32string_view part, Check check) {
  constexpr std::size_t kShortYear = 2, kLongYear = 4, kDateDigits = 6;
  switch (check) {
    case Check::kNone: return true;
    case Check::kMod10: return Mod10Holds(part);
    case Check::kAlphaPair: return AlphaPairHolds(part);
    case Check::kDateDay0: return DateHolds(part, kShortYear, true);
    case Check::kDate: return DateHolds(part, kShortYear, false);
    case Check::kLongDate: return DateHolds(part, kLongYear, false);
    case Check::kDateHour: return DateHolds(part, kShortYear, false) && Digits(part, kDateDigits, 2) < kHoursPerDay;
    case Check::kTime: return Digits(part, 0, 2) < kHoursPerDay && Digits(part, 2, 2) < kMinutesPerHour;
    case Check::kMinSec:
      return (part.size() == 2 || part.size() == 4) && Digits(part, 0, 2) < kMinutesPerHour &&
             (part.size() == 2 || Digits(part, 2, 2) < kMinutesPerHour);
    case Check::kHyphen: return part == U"-";
  }
  return false;
}

// The data of one element string against its identifier's components: each
// fixed one takes its length, the last, if variable, takes the rest, and
// optional ones may be left out only at the end.
bool FieldFits(const Identifier& ai, std::u32string_view field) {
  for (std::size_t k = 0; k < ai.count; ++k) {
    const Component& c = ai.parts[k];
    if (field.empty()) return c.optional;
    const std::size_t length = std::min<std::size_t>(field.size(), c.maxLength);
    if (length < c.minLength) return false;
    const std::u32string_view part = field.substr(0, length);
    if (!AllInCharset(part, c.charset) || !Passes(part, c.check)) return false;
    field.remove_prefix(length);
  }
  return field.empty();
}

// In the human-readable form a field ends where the next '(' opens an
// identifier; a '(' in the data itself is written "\(", as GS1's bracketed
// syntax does, so that the form reads back as the same fields. Set 82 has
// no backslash, so the escape is never the data's own.
constexpr char32_t kOpen = U'(';
constexpr char32_t kClose = U')';
constexpr char32_t kEscape = U'\\';

}  // namespace

bool IsGs1Symbology(std::u32string_view aimId) {
  static constexpr std::array<std::u32string_view, 5> kGs1Ids = {U"]C1", U"]e0", U"]d2", U"]Q3", U"]J1"};
  for (std::u32string_view id : kGs1Ids) {
    if (aimId == id) return true;
  }
  return false;
}

std::optional<std::u32string> FormatGs1(std::u32string_view data) {
  if (!data.empty() && data.front() == kGroupSeparator) data.remove_prefix(1);
  if (data.empty()) return std::nullopt;

  std::u32string out;
  out.reserve(data.size() + 16);
  while (!data.empty()) {
    const Identifier* ai = gs1::FindIdentifier(data);
    if (ai == nullptr) return std::nullopt;
    const std::u32string_view id = data.substr(0, ai->digits);
    const int predefined = gs1::PredefinedLength(Digits(id, 0, 2));
    data.remove_prefix(ai->digits);

    std::size_t length = 0;
    if (predefined != 0) {
      // Cut short, the field fails the length check below.
      length = std::min(static_cast<std::size_t>(predefined), data.size());
    } else {
      length = data.find(kGroupSeparator);
      if (length == std::u32string_view::npos) length = data.size();
    }
    std::u32string_view field = data.substr(0, length);
    if (!FieldFits(*ai, field)) return std::nullopt;
    data.remove_prefix(length);
    // The separator ending this field; another one right after it would
    // stand where an identifier must start and fails the lookup above.
    if (!data.empty() && data.front() == kGroupSeparator) data.remove_prefix(1);

    out += kOpen;
    out += id;
    out += kClose;
    for (std::size_t open; (open = field.find(kOpen)) != std::u32string_view::npos;) {
      out += field.substr(0, open);
      out += kEscape;
      out += kOpen;
      field.remove_prefix(open + 1);
    }
    out += field;
  }
  return out;
}

}  // namespace tarvik
