// Fuzzes the rules file and what it does to records: any file parses, any
// record goes through the parsed rules within the step budget and within
// the memory the README promises for one record (the most any record took is
// printed at the end), and no control character is typed unless a rule says
// what it types.
//
// Input layout:
//   bytes 0-1        n, the length of the file (little-endian, cut to what is there)
//   next n bytes     the rules file
//   the rest         lines cut at LF: the first is the window in front,
//                    "program<TAB>title"; each further one is a record, one
//                    character per byte (Latin-1), so control characters
//                    are as common as the fuzzer makes them
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/fuzz_target.h"
#include "core/utf8.h"
#include "keys/brace_keys.h"
#include "shape/gs1.h"
#include "keys/keystroke_output.h"
#include "shape/rules.h"

namespace {

using namespace tarvik;

constexpr std::size_t kLengthBytes = 2;
// Far below the program's budget: a costly pattern stops sooner, and the
// fuzzer tries more inputs in the same time.
constexpr std::uint64_t kFuzzSteps = 5'000;
constexpr unsigned kByteBits = 8;
// What one record may take while the rules run on it.
constexpr std::int64_t kRecordMemoryBound = 16 << 20;

// AddressSanitizer's hooks see every allocation and free: the bytes allocated
// while a record is measured, above those when it began, and their peak.
thread_local bool tMeasuring = false;
std::int64_t gLive = 0, gPeak = 0, gLargestPeak = 0;

void OnMalloc(const volatile void*, std::size_t size) {
  if (!tMeasuring) return;
  gLive += static_cast<std::int64_t>(size);
  gPeak = std::max(gPeak, gLive);
}

void OnFree(const volatile void* p) {
  if (tMeasuring) gLive -= static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(p)));
}

void ReportLargestPeak() {
  std::fprintf(stderr, "rules_fuzz: the most memory one record took: %lld bytes\n",
               static_cast<long long>(gLargestPeak));
}

[[maybe_unused]] const bool kHooked = [] {
  __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
  std::atexit(ReportLargestPeak);
  return true;
}();

std::u32string Latin1(std::string_view bytes) {
  std::u32string out;
  for (char c : bytes) out += static_cast<char32_t>(static_cast<unsigned char>(c));
  return out;
}

const ControlMapping* MappingFor(const Rules& rules, const std::string& section, std::size_t index) {
  // The first section of that name is the one that applied.
  for (const auto& s : rules.sections) {
    if (s.label != section) continue;
    if (s.set.controls[index]) return &*s.set.controls[index];
    break;
  }
  return rules.all.controls[index] ? &*rules.all.controls[index] : nullptr;
}

// Every key is a brace token, a Unicode token for a control character the
// rules send as itself, or one character that is no control character
// (HT only where no rule names it: it is Tab, as it always was).
void CheckKeys(const Rules& rules, const RuledRecord& r) {
  for (char32_t k : r.keys.keys) {
    const std::string key = r.keys.Token(k);
    if (FindBraceKey(key)) continue;
    if (const auto cp = ParseUnicodeToken(key)) {
      const auto index = ControlIndex(*cp);
      Require(index.has_value(), "a Unicode token for a character that is no control character");
      const ControlMapping* m = MappingFor(rules, r.section, *index);
      Require(m && m->kind == ControlMapping::Kind::kChar, "a control character sent as itself unasked");
      continue;
    }
    Require(k < kTokenKey, "a token that is neither a list's key nor a Unicode token");
    const auto index = ControlIndex(k);
    if (!index) continue;
    Require(k == U'\t' && !MappingFor(rules, r.section, *index), "a control character typed unmapped");
  }
  for (const auto* run : {&r.keys.prefix, &r.keys.suffix1, &r.keys.suffix2})
    Require(!*run || (*run)->token.empty() || FindBraceKey((*run)->token), "a prefix or suffix no list holds");
}

// A record that reads as GS1 reads back from its human-readable form as the
// same identifiers and data: an identifier is digits in parentheses, its data
// runs to the next '(' that is not escaped as "\(".
void CheckGs1ReadsBack(std::u32string_view record) {
  constexpr std::size_t kAimLength = 3;
  if (record.size() >= kAimLength && record[0] == U']') record.remove_prefix(kAimLength);
  const std::optional<std::u32string> human = FormatGs1(record);
  if (!human) return;
  std::u32string expected, read;
  for (char32_t c : record)
    if (c != kGroupSeparator) expected += c;
  for (std::size_t i = 0; i < human->size(); ++i) {
    const char32_t c = (*human)[i];
    if (c == U'\\') {
      Require(i + 1 < human->size() && (*human)[i + 1] == U'(', "an escape of something other than '('");
      read += (*human)[++i];
    } else if (c == U'(') {
      const std::size_t close = human->find(U')', i);
      Require(close != std::u32string::npos, "an identifier without its ')'");
      const std::u32string_view id = std::u32string_view(*human).substr(i + 1, close - i - 1);
      Require(!id.empty() && std::all_of(id.begin(), id.end(), [](char32_t d) { return d >= U'0' && d <= U'9'; }),
              "an identifier that is not digits");
      read += id;
      i = close;
    } else {
      read += c;
    }
  }
  Require(read == expected, "the human-readable form reads back as other data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kLengthBytes) return 0;
  const std::size_t fileSize =
      std::min<std::size_t>(data[0] | (static_cast<std::size_t>(data[1]) << kByteBits), size - kLengthBytes);
  const std::string_view all(reinterpret_cast<const char*>(data) + kLengthBytes, size - kLengthBytes);
  const std::string_view file = all.substr(0, fileSize);
  std::string_view rest = all.substr(fileSize);

  const Rules rules = ParseRules(file);
  const auto lines = static_cast<int>(std::count(file.begin(), file.end(), '\n')) + 1;
  for (const auto& p : rules.problems) Require(p.line >= 1 && p.line <= lines, "a problem on no line of the file");

  FocusedWindow window;
  bool first = true;
  while (!rest.empty()) {
    const auto feed = rest.find('\n');
    const std::string_view line = rest.substr(0, feed);
    rest.remove_prefix(feed == std::string_view::npos ? rest.size() : feed + 1);
    if (std::exchange(first, false)) {
      const auto tab = line.find('\t');
      window.program = std::string(line.substr(0, tab));
      window.title = tab == std::string_view::npos ? std::string() : EncodeUtf8(Latin1(line.substr(tab + 1)));
      continue;
    }
    const std::u32string record = Latin1(line);
    gLive = gPeak = 0;
    tMeasuring = true;
    const RuledRecord r = ApplyRules(rules, record, window, kFuzzSteps);
    tMeasuring = false;
    gLargestPeak = std::max(gLargestPeak, gPeak);
    Require(gPeak <= kRecordMemoryBound, "one record took more memory than the bound");
    Require(r.text.size() <= kRuledRecordLimit, "the rules made a record longer than the limit");
    if (r.outcome == RuledRecord::Outcome::kType) CheckKeys(rules, r);
    CheckGs1ReadsBack(record);
  }
  return 0;
}
