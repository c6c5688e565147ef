// How long the rules take on one record: a 20-rule file on a 4 KiB record,
// the window in front matched by title. Prints the time per record; it
// asserts nothing (speed belongs in a benchmark, not a test).
//   build/linux/rules_bench [records]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "wedge/rules.h"

namespace {

using namespace tarvik;

constexpr std::size_t kRecordChars = 4096;
constexpr int kDefaultRecords = 2000;

constexpr char kRules[] =
    "[reader]\nlines = plain\n"
    "[all]\n"
    "GS = \"<GS>\"\nRS = {TAB}\nEOT = none\n"
    "aim = strip\ngs1 = parens\n"
    "skip = ^CFG-\n"
    "replace = ^0+(\\d+)$ => $1\n"
    "replace = -+ => -\n"
    "replace = (\\d{4})/(\\d{2})/(\\d{2}) => $1-$2-$3\n"
    "replace = \\s+$ =>\n"
    "replace = ^\\s+ =>\n"
    "replace = [a-f]{8}Z => <hex>\n"
    "repeat_ms = 800\n"
    "prefix = {TAB} 1\nsuffix1 = {ENTER} 1\n"
    "[app excel.exe]\nsuffix1 = {TAB} 1\n"
    "[app scalc]\nsuffix1 = {TAB} 1\n"
    "[title .*Invoice.*]\nreplace = (\\w+)@(\\w+) => $2@$1\n"
    "[title ^Orders - \\d+$]\nsuffix1 = {RIGHT} 1\n";

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : kDefaultRecords;
  const Rules rules = ParseRules(kRules);
  if (!rules.problems.empty()) {
    std::fprintf(stderr, "line %d: %s\n", rules.problems[0].line, rules.problems[0].why.c_str());
    return 1;
  }
  // A GS1 DataMatrix record with long variable fields, separators among them.
  std::u32string record = U"]d2010950110102091717190508";
  for (int field = 0; record.size() + 24 < kRecordChars; ++field)
    record += U"10ABCD-" + std::u32string(12, U"0123456789"[field % 10]) + U"-12\x1d";
  record.resize(kRecordChars, U'7');
  const FocusedWindow window{"notepad.exe", "Orders - Invoice 2026-12", ""};

  std::size_t keys = 0;
  std::uint64_t steps = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < records; ++i) {
    const RuledRecord r = ApplyRules(rules, record, window);
    keys += r.keys.keys.size();
    steps += r.steps;
  }
  const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  const std::string text = kRules;
  const auto ruleLines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '='));
  std::printf("rules_bench: %zu rule lines, %zu-character record: %.1f us per record "
              "(%llu matcher steps, %zu keys)\n",
              ruleLines, kRecordChars, took.count() / records,
              static_cast<unsigned long long>(steps / static_cast<std::uint64_t>(records)),
              keys / static_cast<std::size_t>(records));
  return 0;
}
