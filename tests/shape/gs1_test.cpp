// GS1 element strings as readers send them, and their human-readable form.
#include "shape/gs1.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "shape/gs1_table.h"

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
      {"00106141411234567897" "0209501101020917" "3712|400PO-4711",
       "(00)106141411234567897(02)09501101020917(37)12(400)PO-4711"},
      {"01095011010209173103000750", "(01)09501101020917(3103)000750"},
      {"0109501101020917" "3922499|3932978499", "(01)09501101020917(3922)499(3932)978499"},
      {"4149501101020016|0109501101020917", "(414)9501101020016(01)09501101020917"},
      {"8020ABC-123/x|4159501101020016", "(8020)ABC-123/x(415)9501101020016"},
      {"90INT-1|91A", "(90)INT-1(91)A"},
      {"2539501101020016XY", "(253)9501101020016XY"},
      {"70011234567890123|10A", "(7001)1234567890123(10)A"},
      {"80031950110102001" "6AB", "(8003)19501101020016AB"},
      {"80131987654Ad4X4bL5ttr2310c2K", "(8013)1987654Ad4X4bL5ttr2310c2K"},
      // The identifiers of the latest release.
      {"717AB-12|8040123456789012345", "(717)AB-12(8040)123456789012345"},
      {"8041123456789012345|804212345678901234567890123456789012", "(8041)123456789012345(8042)12345678901234567890123456789012"},
      {"8043123456789012345678", "(8043)123456789012345678"}, {"804312345678901234567812", "(8043)12345678901234567812"},
      // Lengths made of parts: a currency code, countries in threes, a date
      // and a time, a trailing hyphen.
      {"3912978" "1", "(3912)9781"}, {"4215281234", "(421)5281234"}, {"7030528A", "(7030)528A"},
      {"7230ABC", "(7230)ABC"}, {"423528", "(423)528"}, {"423528276", "(423)528276"},
      {"423528276040208250", "(423)528276040208250"}, {"7007260101260131", "(7007)260101260131"},
      {"70112601011230", "(7011)2601011230"}, {"80082601011230", "(8008)2601011230"},
      {"8008260101123059", "(8008)260101123059"}, {"4331012345-", "(4331)012345-"},
      // Dates: day 00 where GS1 allows it; 29 February in leap years.
      {"17260200", "(17)260200"}, {"17240229", "(17)240229"}, {"725020000229", "(7250)20000229"},
      // Character sets 82, 39 and 64; a '(' in the data escaped.
      {"10!\"%&'*+,-./:;<=>?_z", "(10)!\"%&'*+,-./:;<=>?_z"}, {"8010AB#-/12", "(8010)AB#-/12"},
      {"8030AbC-_9==", "(8030)AbC-_9=="}, {"10AB(21)X", "(10)AB\\(21)X"}, {"10A)B", "(10)A)B"},
      // One leading and one trailing GS, and a GS after a predefined field.
      {"|0109501101020917", "(01)09501101020917"},
      {"10AB|", "(10)AB"},
      {"0109501101020917|10AB|", "(01)09501101020917(10)AB"},
      // Without a GS, what follows joins the variable data.
      {"10ABCD123421123", "(10)ABCD123421123"},
  };
  for (const auto& [data, expected] : formatted) EXPECT_EQ(Formatted(data), expected) << data;
  const std::string_view refused[] = {
      // Characters outside the identifier's set.
      "90INT 1", "10AB#", "10AB\\", "10A~", "8010abc", "8030Ab+c", "8030A=b", "8030A===", "3103000A50",
      "10ABCD12342112345678901",  // the joined data too long
      // Unknown identifiers, or decimal positions never assigned.
      "2301234", "3106000750", "04123", "8044123456789012345",
      // Check digits: GTIN, SSCC, GLN, GDTI, GRAI, GMN.
      "0109501101020918", "00106141411234567898", "4149501101020017", "2539501101020017", "80031950110102001" "7",
      "80131987654Ad4X4bL5ttr2310c2L",
      // Dates and times.
      "17261301", "17260001", "17260132", "17250229", "7006260200", "725021000229", "70032601012400",
      "70032601012360", "800826010124", "800826010112" "60",
      // Lengths: too few, none between the parts, or too many.
      "0109501101020", "10ABCDEFGHIJKLMNOPQRSTU", "700112345678901234|10A", "17ABCDEF", "0109501101O20917",
      "421ABC123", "421528", "3912978", "3932978", "7030528", "7230AB", "4235282", "42352827", "4235282760402082501",
      "7007260101260", "701126010112", "800826010112" "3", "4330012345+", "4330012345--", "8042123",
      "8043123456789012345678901",
      // Separators where a field or an identifier should be.
      "10AB||21X", "10|21X", "10AB|||", "||0109501101020917", "0109501101020917" "10", "0109501101020917" "3",
      "", "|"};
  for (const auto data : refused) EXPECT_EQ(Formatted(data), std::nullopt) << data;
}

// The table against an extract of GS1's syntax dictionary, identifier by
// identifier: the same identifiers with the same components, and data made
// from the extract at each one's shortest and longest formatted, one
// character less or more typed as it came.
struct DictionaryEntry {
  std::string ai;
  std::string format;
};

std::vector<DictionaryEntry> ReadDictionary() {
  std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "gs1_syntax_dictionary.txt");
  EXPECT_TRUE(in) << "the dictionary extract beside " << __FILE__;
  std::vector<DictionaryEntry> entries;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string range, part, format;
    fields >> range;
    while (fields >> part) format += (format.empty() ? "" : " ") + part;
    const auto dash = range.find('-');
    const int first = std::stoi(range.substr(0, dash));
    const int last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
    const auto digits = static_cast<int>(dash == std::string::npos ? range.size() : dash);
    for (int ai = first; ai <= last; ++ai) {
      std::string id = std::to_string(ai);
      entries.push_back({std::string(static_cast<std::size_t>(digits) - id.size(), '0') + id, format});
    }
  }
  return entries;
}

char CheckDigit(std::string_view digits) {
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) sum += (digits[digits.size() - 1 - i] - '0') * (i % 2 ? 1 : 3);
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// Valid data for one component such as "N13,csum" or "[X..17]", at its
// shortest or longest.
std::string Fill(std::string component, bool longest) {
  if (component.front() == '[') component = component.substr(1, component.size() - 2);
  const auto comma = component.find(',');
  const std::string check = comma == std::string::npos ? "" : component.substr(comma + 1);
  std::string length = component.substr(1, comma - 1);
  const bool variable = length.starts_with("..");
  const auto n = static_cast<std::size_t>(std::stoi(variable ? length.substr(2) : length));
  const std::map<std::string, std::string> fixed = {
      {"yymmd0", "261200"}, {"yymmdd", "261231"}, {"yyyymmdd", "20261231"}, {"yymmddhh", "26123123"},
      {"hhmi", "2359"},     {"hyphen", "-"},      {"mioptsc", longest ? "5959" : "59"},
      {"csumalpha", "1987654Ad4X4bL5ttr2310c2K"}};
  if (fixed.contains(check)) return fixed.at(check);
  const std::map<char, char> sample = {{'N', '7'}, {'X', 'x'}, {'Y', 'Y'}, {'Z', 'z'}};
  std::string data(variable && !longest ? 1 : n, sample.at(component[0]));
  if (check == "csum") data.back() = CheckDigit(data.substr(0, data.size() - 1));
  return data;
}

TEST(Gs1, EveryIdentifierAsTheDictionaryGivesIt) {
  const std::vector<DictionaryEntry> dictionary = ReadDictionary();
  std::map<std::string, std::string> table;
  for (const gs1::Identifier& id : gs1::Identifiers()) {
    for (int ai = id.first; ai <= id.last; ++ai) {
      const std::string number = std::to_string(ai);
      table[std::string(id.digits - number.size(), '0') + number] = std::string(id.format);
    }
  }
  EXPECT_EQ(table.size(), dictionary.size());
  for (const auto& [ai, format] : dictionary) {
    EXPECT_EQ(table[ai], format) << ai;
    std::string shortest, longest;
    std::istringstream parts(format);
    for (std::string part; parts >> part;) {
      if (part.front() != '[') shortest += Fill(part, false);
      longest += Fill(part, true);
    }
    for (const std::string& data : {shortest, longest}) EXPECT_EQ(Formatted(ai + data), "(" + ai + ")" + data);
    EXPECT_EQ(Formatted(ai + shortest.substr(0, shortest.size() - 1)), std::nullopt) << ai << " shorter";
    EXPECT_EQ(Formatted(ai + longest + "1"), std::nullopt) << ai << " longer";
  }
}

TEST(Gs1, Symbologies) {
  for (std::u32string_view id : {U"]C1", U"]e0", U"]d2", U"]Q3", U"]J1"}) EXPECT_TRUE(IsGs1Symbology(id));
  for (std::u32string_view id : {U"]C0", U"]E0", U"]d1", U"]Q1", U"]J0", U"]c1", U"", U"]C1 "})
    EXPECT_FALSE(IsGs1Symbology(id));
}

}  // namespace
}  // namespace tarvik
