#include "wedge/gs1.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvik {
namespace {

// A run of application identifiers that share one data format. `first` and
// `last` are the identifiers read as numbers ("01" is 1), all `idLen` digits
// long. `leadDigits` counts the data characters that must be digits: all of
// them for a numeric identifier, the numeric head of a compound one such as
// 253 (GLN N13, then up to 17 characters of serial), none for plain
// alphanumerics. `lastDigitMax` leaves out the unassigned decimal-point
// positions of families like 310n, where n only goes up to 5.
struct AiRange {
  std::uint16_t first;
  std::uint16_t last;
  std::uint8_t idLen;
  std::uint8_t minLen;
  std::uint8_t maxLen;
  std::uint8_t leadDigits;
  std::uint8_t lastDigitMax = 9;
};

// The GS1 application identifiers in use. Predefined prefixes with no
// identifier assigned (04, 14, 18, 19) are left out, so data using them is
// typed as it came.
constexpr AiRange kAis[] = {
    // first  last  id  min max digits
    {0,    0,    2, 18, 18, 18},  // SSCC
    {1,    3,    2, 14, 14, 14},  // GTIN, CONTENT, MTO GTIN
    {10,   10,   2, 1,  20, 0},   // BATCH/LOT
    {11,   13,   2, 6,  6,  6},   // production, due, packaging date
    {15,   17,   2, 6,  6,  6},   // best before, sell by, expiry
    {20,   20,   2, 2,  2,  2},   // VARIANT
    {21,   22,   2, 1,  20, 0},   // SERIAL, CPV
    {235,  235,  3, 1,  28, 0},   // TPX
    {240,  241,  3, 1,  30, 0},   // ADDITIONAL ID, customer's article number
    {242,  242,  3, 1,  6,  6},   // MTO VARIANT
    {243,  243,  3, 1,  20, 0},   // PCN
    {250,  251,  3, 1,  30, 0},   // SECONDARY SERIAL, REF. TO SOURCE
    {253,  253,  3, 13, 30, 13},  // GDTI
    {254,  254,  3, 1,  20, 0},   // GLN EXTENSION COMPONENT
    {255,  255,  3, 13, 25, 25},  // GCN
    {30,   30,   2, 1,  8,  8},   // VAR. COUNT
    {3100, 3169, 4, 6,  6,  6, 5},  // metric net measures
    {3200, 3299, 4, 6,  6,  6, 5},  // imperial net measures
    {3300, 3379, 4, 6,  6,  6, 5},  // metric logistic measures, KG PER m²
    {3400, 3499, 4, 6,  6,  6, 5},  // imperial logistic measures
    {3500, 3579, 4, 6,  6,  6, 5},  // areas, troy ounces, net ounces
    {3600, 3699, 4, 6,  6,  6, 5},  // volumes
    {37,   37,   2, 1,  8,  8},   // COUNT
    {3900, 3909, 4, 1,  15, 15},  // AMOUNT
    {3910, 3919, 4, 3,  18, 18},  // AMOUNT with ISO currency
    {3920, 3929, 4, 1,  15, 15},  // PRICE
    {3930, 3939, 4, 3,  18, 18},  // PRICE with ISO currency
    {3940, 3943, 4, 4,  4,  4},   // PRCNT OFF
    {3950, 3955, 4, 6,  6,  6},   // PRICE/UoM
    {400,  401,  3, 1,  30, 0},   // ORDER NUMBER, GINC
    {402,  402,  3, 17, 17, 17},  // GSIN
    {403,  403,  3, 1,  30, 0},   // ROUTE
    {410,  417,  3, 13, 13, 13},  // GLNs: ship to ... party
    {420,  420,  3, 1,  20, 0},   // SHIP TO POST
    {421,  421,  3, 3,  12, 3},   // SHIP TO POST with ISO country
    {422,  422,  3, 3,  3,  3},   // ORIGIN
    {423,  423,  3, 3,  15, 15},  // COUNTRY - INITIAL PROCESS.
    {424,  424,  3, 3,  3,  3},   // COUNTRY - PROCESS.
    {425,  425,  3, 3,  15, 15},  // COUNTRY - DISASSEMBLY
    {426,  426,  3, 3,  3,  3},   // COUNTRY - FULL PROCESS
    {427,  427,  3, 1,  3,  0},   // ORIGIN SUBDIVISION
    {4300, 4301, 4, 1,  35, 0},   // SHIP TO COMP, NAME
    {4302, 4306, 4, 1,  70, 0},   // SHIP TO ADD1 ... REG
    {4307, 4307, 4, 2,  2,  0},   // SHIP TO COUNTRY
    {4308, 4308, 4, 1,  30, 0},   // SHIP TO PHONE
    {4309, 4309, 4, 20, 20, 20},  // SHIP TO GEO
    {4310, 4311, 4, 1,  35, 0},   // RTN TO COMP, NAME
    {4312, 4316, 4, 1,  70, 0},   // RTN TO ADD1 ... REG
    {4317, 4317, 4, 2,  2,  0},   // RTN TO COUNTRY
    {4318, 4318, 4, 1,  20, 0},   // RTN TO POST
    {4319, 4319, 4, 1,  30, 0},   // RTN TO PHONE
    {4320, 4320, 4, 1,  35, 0},   // SRV DESCRIPTION
    {4321, 4323, 4, 1,  1,  1},   // DANGEROUS GOODS, AUTH LEAVE, SIG REQUIRED
    {4324, 4325, 4, 10, 10, 10},  // NBEF, NAFT DEL DT
    {4326, 4326, 4, 6,  6,  6},   // REL DATE
    {4330, 4333, 4, 6,  7,  6},   // MAX/MIN TEMP F/C, an optional '-' last
    {7001, 7001, 4, 13, 13, 13},  // NSN
    {7002, 7002, 4, 1,  30, 0},   // MEAT CUT
    {7003, 7003, 4, 10, 10, 10},  // EXPIRY TIME
    {7004, 7004, 4, 1,  4,  4},   // ACTIVE POTENCY
    {7005, 7005, 4, 1,  12, 0},   // CATCH AREA
    {7006, 7006, 4, 6,  6,  6},   // FIRST FREEZE DATE
    {7007, 7007, 4, 6,  12, 12},  // HARVEST DATE (a date or a range)
    {7008, 7008, 4, 1,  3,  0},   // FAO code of the catch
    {7009, 7009, 4, 1,  10, 0},   // FISHING GEAR TYPE
    {7010, 7010, 4, 1,  2,  0},   // PROD METHOD
    {7011, 7011, 4, 6,  10, 10},  // TEST BY DATE
    {7020, 7022, 4, 1,  20, 0},   // REFURB LOT, FUNC STAT, REV STAT
    {7023, 7023, 4, 1,  30, 0},   // GIAI - ASSEMBLY
    {7030, 7039, 4, 3,  30, 3},   // PROCESSOR # n: ISO country, then approval
    {7040, 7040, 4, 4,  4,  1},   // UIC+EXT
    {7041, 7041, 4, 1,  4,  0},   // UFRGT UNIT TYPE
    {710,  716,  3, 1,  20, 0},   // national healthcare reimbursement numbers
    {7230, 7239, 4, 2,  30, 0},   // CERT # n
    {7240, 7240, 4, 1,  20, 0},   // PROTOCOL
    {7241, 7241, 4, 2,  2,  2},   // AIDC MEDIA TYPE
    {7242, 7242, 4, 1,  25, 0},   // VCN
    {7250, 7250, 4, 8,  8,  8},   // DOB
    {7251, 7251, 4, 12, 12, 12},  // DOB TIME
    {7252, 7252, 4, 1,  1,  1},   // BIO SEX
    {7253, 7254, 4, 1,  40, 0},   // FAMILY NAME, GIVEN NAME
    {7255, 7255, 4, 1,  10, 0},   // SUFFIX
    {7256, 7256, 4, 1,  90, 0},   // FULL NAME
    {7257, 7257, 4, 1,  70, 0},   // PERSON ADDR
    {7258, 7258, 4, 3,  3,  1},   // BIRTH SEQUENCE, as "1/2"
    {7259, 7259, 4, 1,  40, 0},   // BABY
    {8001, 8001, 4, 14, 14, 14},  // DIMENSIONS
    {8002, 8002, 4, 1,  20, 0},   // CMT No.
    {8003, 8003, 4, 14, 30, 14},  // GRAI
    {8004, 8004, 4, 1,  30, 0},   // GIAI
    {8005, 8005, 4, 6,  6,  6},   // PRICE PER UNIT
    {8006, 8006, 4, 18, 18, 18},  // ITIP
    {8007, 8007, 4, 1,  34, 0},   // IBAN
    {8008, 8008, 4, 8,  12, 12},  // PROD TIME
    {8009, 8009, 4, 1,  50, 0},   // OPTSEN
    {8010, 8010, 4, 1,  30, 0},   // CPID
    {8011, 8011, 4, 1,  12, 12},  // CPID SERIAL
    {8012, 8012, 4, 1,  20, 0},   // VERSION
    {8013, 8014, 4, 1,  25, 0},   // GMN, MUDI
    {8017, 8018, 4, 18, 18, 18},  // GSRN - PROVIDER, RECIPIENT
    {8019, 8019, 4, 1,  10, 10},  // SRIN
    {8020, 8020, 4, 1,  25, 0},   // REF No.
    {8026, 8026, 4, 18, 18, 18},  // ITIP CONTENT
    {8030, 8030, 4, 1,  90, 0},   // DIGSIG
    {8110, 8110, 4, 1,  70, 0},   // coupon code, North America
    {8111, 8111, 4, 4,  4,  4},   // POINTS
    {8112, 8112, 4, 1,  70, 0},   // paperless coupon code, North America
    {8200, 8200, 4, 1,  70, 0},   // PRODUCT URL
    {90,   90,   2, 1,  30, 0},   // INTERNAL
    {91,   99,   2, 1,  90, 0},   // company internal
};

constexpr int Pow10(int n) { return n <= 0 ? 1 : 10 * Pow10(n - 1); }

// Identifiers starting with these two digits have a data length fixed for
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

constexpr int FirstTwoDigits(const AiRange& r) { return r.first / Pow10(r.idLen - 2); }

// The lookup relies on no identifier being the start of another, as in the
// GS1 system itself; a typo in the table would make an identifier
// unreachable, so it is checked here rather than trusted.
constexpr bool NoIdentifierStartsAnother() {
  for (const AiRange& a : kAis) {
    for (const AiRange& b : kAis) {
      if (&a == &b || a.idLen > b.idLen) continue;
      const int scale = Pow10(b.idLen - a.idLen);
      if (b.first / scale <= a.last && a.first <= b.last / scale) return false;
    }
  }
  return true;
}
static_assert(NoIdentifierStartsAnother());

constexpr bool RowsAreSound() {
  for (const AiRange& r : kAis) {
    if (r.idLen < 2 || r.idLen > 4 || r.first > r.last || r.last >= Pow10(r.idLen)) return false;
    if (r.minLen < 1 || r.minLen > r.maxLen || r.leadDigits > r.maxLen) return false;
    // The parser looks at the first identifier of a row only, so a row must
    // not mix predefined prefixes with others.
    for (int two = FirstTwoDigits(r); two <= r.last / Pow10(r.idLen - 2); ++two) {
      const int predefined = PredefinedLength(two);
      if (predefined != PredefinedLength(FirstTwoDigits(r))) return false;
      if (predefined != 0 && (r.minLen != predefined || r.maxLen != predefined || r.leadDigits != predefined)) {
        return false;
      }
    }
  }
  return true;
}
static_assert(RowsAreSound());

constexpr bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

// GS1 data is drawn from a subset of printable ASCII; the whole printable
// range is accepted, since the point is to catch data that is not GS1 at
// all, not to police the character set.
constexpr bool IsDataChar(char32_t c) { return c >= 0x21 && c <= 0x7E; }

// The identifier at the start of `rest`, if the table knows it.
const AiRange* FindAi(std::u32string_view rest) {
  int value = 0;
  for (std::size_t len = 1; len <= 4 && len <= rest.size(); ++len) {
    const char32_t c = rest[len - 1];
    if (!IsDigit(c)) return nullptr;
    value = value * 10 + static_cast<int>(c - U'0');
    if (len < 2) continue;
    for (const AiRange& r : kAis) {
      if (r.idLen == static_cast<int>(len) && r.first <= value && value <= r.last &&
          value % 10 <= r.lastDigitMax) {
        return &r;
      }
    }
  }
  return nullptr;
}

bool FieldFits(const AiRange& ai, std::u32string_view field) {
  if (field.size() < std::size_t{ai.minLen} || field.size() > std::size_t{ai.maxLen}) return false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (i < std::size_t{ai.leadDigits} ? !IsDigit(field[i]) : !IsDataChar(field[i])) return false;
  }
  return true;
}

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
    const AiRange* ai = FindAi(data);
    if (ai == nullptr) return std::nullopt;
    const std::u32string_view id = data.substr(0, ai->idLen);
    data.remove_prefix(ai->idLen);

    std::size_t length = 0;
    if (PredefinedLength(FirstTwoDigits(*ai)) != 0) {
      // Cut short, the field fails the length check below.
      length = std::min(std::size_t{ai->maxLen}, data.size());
    } else {
      length = data.find(kGroupSeparator);
      if (length == std::u32string_view::npos) length = data.size();
    }
    const std::u32string_view field = data.substr(0, length);
    if (!FieldFits(*ai, field)) return std::nullopt;
    data.remove_prefix(length);
    // The separator ending this field; another one right after it would
    // stand where an identifier must start and fails the lookup above.
    if (!data.empty() && data.front() == kGroupSeparator) data.remove_prefix(1);

    out += U'(';
    out += id;
    out += U')';
    out += field;
  }
  return out;
}

}  // namespace tarvik
