#include "shape/gs1_table.h"

namespace tarvik::gs1 {
namespace {

struct Row {
  std::string_view ai;      // "01", or a range "3100-3105"
  std::string_view format;  // components, optional ones in brackets
};

// GS1 Barcode Syntax Dictionary, release 2026-01-27: each identifier's
// components as the dictionary gives them, one row each, in the dictionary's
// order. A later release changes rows here and nothing else. Of the
// dictionary's content checks, the check digits and dates are made (the
// flags below); the others (country and currency codes, company prefix
// positions, coupon structure) are left out, and data they would refuse is
// formatted all the same.
constexpr Row kRows[] = {
    {"00", "N18,csum"},                  // SSCC
    {"01", "N14,csum"},                  // GTIN
    {"02", "N14,csum"},                  // CONTENT
    {"03", "N14,csum"},                  // MTO GTIN
    {"10", "X..20"},                     // BATCH/LOT
    {"11", "N6,yymmd0"},                 // PROD DATE
    {"12", "N6,yymmd0"},                 // DUE DATE
    {"13", "N6,yymmd0"},                 // PACK DATE
    {"15", "N6,yymmd0"},                 // BEST BEFORE or BEST BY
    {"16", "N6,yymmd0"},                 // SELL BY
    {"17", "N6,yymmd0"},                 // USE BY OR EXPIRY
    {"20", "N2"},                        // VARIANT
    {"21", "X..20"},                     // SERIAL
    {"22", "X..20"},                     // CPV
    {"235", "X..28"},                    // TPX
    {"240", "X..30"},                    // ADDITIONAL ID
    {"241", "X..30"},                    // CUST. PART No.
    {"242", "N..6"},                     // MTO VARIANT
    {"243", "X..20"},                    // PCN
    {"250", "X..30"},                    // SECONDARY SERIAL
    {"251", "X..30"},                    // REF. TO SOURCE
    {"253", "N13,csum [X..17]"},         // GDTI
    {"254", "X..20"},                    // GLN EXTENSION COMPONENT
    {"255", "N13,csum [N..12]"},         // GCN
    {"30", "N..8"},                      // VAR. COUNT
    // Net measures, the last digit the decimal point's place: kg, m (length,
    // width, height), m², l, m³; lb, in, ft, yd (length, width, height).
    {"3100-3105", "N6"}, {"3110-3115", "N6"}, {"3120-3125", "N6"}, {"3130-3135", "N6"},
    {"3140-3145", "N6"}, {"3150-3155", "N6"}, {"3160-3165", "N6"},
    {"3200-3205", "N6"}, {"3210-3215", "N6"}, {"3220-3225", "N6"}, {"3230-3235", "N6"},
    {"3240-3245", "N6"}, {"3250-3255", "N6"}, {"3260-3265", "N6"}, {"3270-3275", "N6"},
    {"3280-3285", "N6"}, {"3290-3295", "N6"},
    // Logistic measures, metric then imperial, and KG PER m².
    {"3300-3305", "N6"}, {"3310-3315", "N6"}, {"3320-3325", "N6"}, {"3330-3335", "N6"},
    {"3340-3345", "N6"}, {"3350-3355", "N6"}, {"3360-3365", "N6"}, {"3370-3375", "N6"},
    {"3400-3405", "N6"}, {"3410-3415", "N6"}, {"3420-3425", "N6"}, {"3430-3435", "N6"},
    {"3440-3445", "N6"}, {"3450-3455", "N6"}, {"3460-3465", "N6"}, {"3470-3475", "N6"},
    {"3480-3485", "N6"}, {"3490-3495", "N6"},
    // Areas, troy ounces, US ounces; volumes in quarts, gallons, cubic in/ft/yd.
    {"3500-3505", "N6"}, {"3510-3515", "N6"}, {"3520-3525", "N6"}, {"3530-3535", "N6"},
    {"3540-3545", "N6"}, {"3550-3555", "N6"}, {"3560-3565", "N6"}, {"3570-3575", "N6"},
    {"3600-3605", "N6"}, {"3610-3615", "N6"}, {"3620-3625", "N6"}, {"3630-3635", "N6"},
    {"3640-3645", "N6"}, {"3650-3655", "N6"}, {"3660-3665", "N6"}, {"3670-3675", "N6"},
    {"3680-3685", "N6"}, {"3690-3695", "N6"},
    {"37", "N..8"},                      // COUNT
    {"3900-3909", "N..15"},              // AMOUNT
    {"3910-3919", "N3 N..15"},           // AMOUNT with ISO currency code
    {"3920-3929", "N..15"},              // PRICE
    {"3930-3939", "N3 N..15"},           // PRICE with ISO currency code
    {"3940-3943", "N4"},                 // PRCNT OFF
    {"3950-3955", "N6"},                 // PRICE/UoM
    {"400", "X..30"},                    // ORDER NUMBER
    {"401", "X..30"},                    // GINC
    {"402", "N17,csum"},                 // GSIN
    {"403", "X..30"},                    // ROUTE
    {"410-417", "N13,csum"},             // GLNs: SHIP TO LOC ... PROMISE TO LOC
    {"420", "X..20"},                    // SHIP TO POST
    {"421", "N3 X..9"},                  // SHIP TO POST with ISO country code
    {"422", "N3"},                       // ORIGIN
    {"423", "N3 [N3] [N3] [N3] [N3]"},   // COUNTRY - INITIAL PROCESS.
    {"424", "N3"},                       // COUNTRY - PROCESS.
    {"425", "N3 [N3] [N3] [N3] [N3]"},   // COUNTRY - DISASSEMBLY
    {"426", "N3"},                       // COUNTRY - FULL PROCESS
    {"427", "X..3"},                     // ORIGIN SUBDIVISION
    {"4300-4301", "X..35"},              // SHIP TO COMP, SHIP TO NAME
    {"4302-4306", "X..70"},              // SHIP TO ADD1, ADD2, SUB, LOC, REG
    {"4307", "X2"},                      // SHIP TO COUNTRY
    {"4308", "X..30"},                   // SHIP TO PHONE
    {"4309", "N20"},                     // SHIP TO GEO
    {"4310-4311", "X..35"},              // RTN TO COMP, RTN TO NAME
    {"4312-4316", "X..70"},              // RTN TO ADD1, ADD2, SUB, LOC, REG
    {"4317", "X2"},                      // RTN TO COUNTRY
    {"4318", "X..20"},                   // RTN TO POST
    {"4319", "X..30"},                   // RTN TO PHONE
    {"4320", "X..35"},                   // SRV DESCRIPTION
    {"4321-4323", "N1"},                 // DANGEROUS GOODS, AUTH LEAVE, SIG REQUIRED
    {"4324-4325", "N6,yymmd0 N4,hhmi"},  // NBEF DEL DT., NAFT DEL DT.
    {"4326", "N6,yymmdd"},               // REL DATE
    {"4330-4333", "N6 [X1,hyphen]"},     // MAX/MIN TEMP F/C
    {"7001", "N13"},                     // NSN
    {"7002", "X..30"},                   // MEAT CUT
    {"7003", "N6,yymmdd N4,hhmi"},       // EXPIRY TIME
    {"7004", "N..4"},                    // ACTIVE POTENCY
    {"7005", "X..12"},                   // CATCH AREA
    {"7006", "N6,yymmdd"},               // FIRST FREEZE DATE
    {"7007", "N6,yymmdd [N6,yymmdd]"},   // HARVEST DATE
    {"7008", "X..3"},                    // AQUATIC SPECIES
    {"7009", "X..10"},                   // FISHING GEAR TYPE
    {"7010", "X..2"},                    // PROD METHOD
    {"7011", "N6,yymmdd [N4,hhmi]"},     // TEST BY DATE
    {"7020-7022", "X..20"},              // REFURB LOT, FUNC STAT, REV STAT
    {"7023", "X..30"},                   // GIAI - ASSEMBLY
    {"7030-7039", "N3 X..27"},           // PROCESSOR # s, with ISO country code
    {"7040", "N1 X1 X1 X1"},             // UIC+EXT
    {"7041", "X..4"},                    // UFRGT UNIT TYPE
    {"710-717", "X..20"},                // NHRN PZN, CIP, CN, DRN, AIM, NDC, AIC, and 717
    {"7230-7239", "X2 X..28"},           // CERT # s
    {"7240", "X..20"},                   // PROTOCOL
    {"7241", "N2"},                      // AIDC MEDIA TYPE
    {"7242", "X..25"},                   // VCN
    {"7250", "N8,yyyymmdd"},             // DOB
    {"7251", "N8,yyyymmdd N4,hhmi"},     // DOB TIME
    {"7252", "N1"},                      // BIO SEX
    {"7253-7254", "X..40"},              // FAMILY NAME, GIVEN NAME
    {"7255", "X..10"},                   // SUFFIX
    {"7256", "X..90"},                   // FULL NAME
    {"7257", "X..70"},                   // PERSON ADDR
    {"7258", "N1 X1 N1"},                // BIRTH SEQUENCE
    {"7259", "X..40"},                   // BABY
    {"8001", "N4 N5 N3 N1 N1"},          // DIMENSIONS
    {"8002", "X..20"},                   // CMT No.
    {"8003", "N1 N13,csum [X..16]"},     // GRAI
    {"8004", "X..30"},                   // GIAI
    {"8005", "N6"},                      // PRICE PER UNIT
    {"8006", "N14,csum N2 N2"},          // ITIP
    {"8007", "X..34"},                   // IBAN
    {"8008", "N8,yymmddhh [N..4,mioptsc]"},  // PROD TIME
    {"8009", "X..50"},                   // OPTSEN
    {"8010", "Y..30"},                   // CPID
    {"8011", "N..12"},                   // CPID SERIAL
    {"8012", "X..20"},                   // VERSION
    {"8013", "X..25,csumalpha"},         // GMN
    {"8014", "X..25"},                   // MUDI
    {"8017-8018", "N18,csum"},           // GSRN - PROVIDER, GSRN - RECIPIENT
    {"8019", "N..10"},                   // SRIN
    {"8020", "X..25"},                   // REF No.
    {"8026", "N14,csum N2 N2"},          // ITIP CONTENT
    {"8030", "Z..90"},                   // DIGSIG
    {"8040-8041", "N15"},
    {"8042", "N32"},
    {"8043", "N18 [N..2]"},
    {"8110", "X..70"},                   // coupon code, North America
    {"8111", "N4"},                      // POINTS
    {"8112", "X..70"},                   // paperless coupon code, North America
    {"8200", "X..70"},                   // PRODUCT URL
    {"90", "X..30"},                     // INTERNAL
    {"91-99", "X..90"},                  // company internal
};

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reading the table happens at compile time: a malformed row throws there,
// which stops the build with the row in the compiler's message.
constexpr int Number(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) throw "a number of 1 to 4 digits";
  int value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) throw "a digit";
    value = value * 10 + (c - '0');
  }
  return value;
}

constexpr Check CheckNamed(std::string_view name) {
  constexpr std::pair<std::string_view, Check> kNames[] = {
      {"csum", Check::kMod10},         {"csumalpha", Check::kAlphaPair}, {"yymmd0", Check::kDateDay0},
      {"yymmdd", Check::kDate},        {"yyyymmdd", Check::kLongDate},   {"yymmddhh", Check::kDateHour},
      {"hhmi", Check::kTime},          {"mioptsc", Check::kMinSec},      {"hyphen", Check::kHyphen}};
  for (const auto& [n, check] : kNames) {
    if (n == name) return check;
  }
  throw "a check the parser makes";
}

constexpr Component ReadComponent(std::string_view text) {
  Component c;
  if (text.front() == '[') {
    if (text.back() != ']') throw "a closing bracket";
    c.optional = true;
    text = text.substr(1, text.size() - 2);
  }
  const std::size_t comma = text.find(',');
  std::string_view length = text.substr(1, comma == std::string_view::npos ? text.npos : comma - 1);
  switch (text.front()) {
    case 'N': c.charset = Charset::kNumeric; break;
    case 'X': c.charset = Charset::kSet82; break;
    case 'Y': c.charset = Charset::kSet39; break;
    case 'Z': c.charset = Charset::kSet64; break;
    default: throw "N, X, Y or Z";
  }
  const bool variable = length.starts_with("..");
  if (variable) length.remove_prefix(2);
  c.maxLength = static_cast<std::uint8_t>(Number(length));
  c.minLength = variable ? 1 : c.maxLength;
  if (c.maxLength == 0) throw "a length of at least 1";
  if (comma != std::string_view::npos) c.check = CheckNamed(text.substr(comma + 1));
  return c;
}

constexpr Identifier Compile(const Row& row) {
  Identifier id;
  const std::size_t dash = row.ai.find('-');
  const std::string_view first = row.ai.substr(0, dash);
  const std::string_view last = dash == std::string_view::npos ? first : row.ai.substr(dash + 1);
  if (first.size() < 2 || first.size() != last.size()) throw "an identifier of 2 to 4 digits";
  id.first = static_cast<std::uint16_t>(Number(first));
  id.last = static_cast<std::uint16_t>(Number(last));
  id.digits = static_cast<std::uint8_t>(first.size());
  if (id.first > id.last) throw "a range in order";
  id.format = row.format;
  std::string_view rest = row.format;
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    if (id.count == kMaxComponents) throw "at most five components";
    const Component c = ReadComponent(rest.substr(0, blank));
    // The dictionary's own rules, on which the parser relies: only the last
    // component varies in length, and optional ones come last.
    if (id.count > 0) {
      const Component& before = id.parts[id.count - 1];
      if (before.minLength != before.maxLength) throw "a variable component last";
      if (before.optional && !c.optional) throw "optional components last";
    }
    id.parts[id.count++] = c;
    rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
  }
  if (id.count == 0 || id.parts[0].optional) throw "a first component that is not optional";
  return id;
}

constexpr auto Compiled() {
  std::array<Identifier, std::size(kRows)> table{};
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = Compile(kRows[i]);
  return table;
}
constexpr auto kTable = Compiled();

constexpr int Pow10(int n) { return n <= 0 ? 1 : 10 * Pow10(n - 1); }
constexpr int FirstTwoDigits(const Identifier& id) { return id.first / Pow10(id.digits - 2); }
constexpr int LastTwoDigits(const Identifier& id) { return id.last / Pow10(id.digits - 2); }
constexpr int kPrefixes = 100;

// For each pair of first digits, the rows whose identifiers start with it:
// from the first whose range reaches the pair to the first beyond it.
struct PrefixRows {
  std::array<std::uint16_t, kPrefixes> begin{};
  std::array<std::uint16_t, kPrefixes> end{};
};
constexpr PrefixRows RowsByPrefix() {
  PrefixRows rows;
  for (int prefix = 0; prefix < kPrefixes; ++prefix) {
    std::size_t row = 0;
    while (row < kTable.size() && LastTwoDigits(kTable[row]) < prefix) ++row;
    rows.begin[prefix] = static_cast<std::uint16_t>(row);
    while (row < kTable.size() && FirstTwoDigits(kTable[row]) <= prefix) ++row;
    rows.end[prefix] = static_cast<std::uint16_t>(row);
  }
  return rows;
}
constexpr PrefixRows kRowsByPrefix = RowsByPrefix();

// In GS1 the first two digits of an identifier fix how many digits it has,
// so no identifier is the start of another; the lookup relies on it, and on
// the rows being in order. Where a predefined length holds, the row's
// components must add up to it.
constexpr bool TableIsSound() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    const Identifier& id = kTable[i];
    const int predefined = PredefinedLength(FirstTwoDigits(id));
    for (int p = FirstTwoDigits(id); p <= LastTwoDigits(id); ++p)
      if (PredefinedLength(p) != predefined) return false;
    if (i > 0) {
      const Identifier& before = kTable[i - 1];
      const bool samePrefix = LastTwoDigits(before) >= FirstTwoDigits(id);
      if (samePrefix && (before.digits != id.digits || before.last >= id.first)) return false;
      if (FirstTwoDigits(before) > FirstTwoDigits(id)) return false;
    }
    if (predefined != 0) {
      int length = 0;
      for (std::size_t k = 0; k < id.count; ++k) {
        if (id.parts[k].optional || id.parts[k].minLength != id.parts[k].maxLength) return false;
        length += id.parts[k].maxLength;
      }
      if (length != predefined) return false;
    }
  }
  return true;
}
static_assert(TableIsSound());

}  // namespace

std::span<const Identifier> Identifiers() { return kTable; }

const Identifier* FindIdentifier(std::u32string_view data) {
  constexpr std::size_t kPrefixDigits = 2;
  if (data.size() < kPrefixDigits) return nullptr;
  int value = 0;
  for (std::size_t i = 0; i < kPrefixDigits; ++i) {
    if (data[i] < U'0' || data[i] > U'9') return nullptr;
    value = value * 10 + static_cast<int>(data[i] - U'0');
  }
  const std::size_t begin = kRowsByPrefix.begin[static_cast<std::size_t>(value)];
  const std::size_t end = kRowsByPrefix.end[static_cast<std::size_t>(value)];
  if (begin == end) return nullptr;
  const std::size_t digits = kTable[begin].digits;
  if (data.size() < digits) return nullptr;
  for (std::size_t i = kPrefixDigits; i < digits; ++i) {
    if (data[i] < U'0' || data[i] > U'9') return nullptr;
    value = value * 10 + static_cast<int>(data[i] - U'0');
  }
  for (std::size_t row = begin; row < end; ++row) {
    if (kTable[row].first <= value && value <= kTable[row].last) return &kTable[row];
  }
  return nullptr;
}

}  // namespace tarvik::gs1
