// How long the rules take on one record: a 20-rule file on a 4 KiB record,
// the window in front matched by title. Then the worst found: patterns and
// files written to cost the most on 64 KiB records, and files written to cost
// the most to read. Each of those runs in a child process of its own, whose
// peak resident memory (VmHWM, reset when it begins) above what it held then
// is the figure printed, with its wall-clock and processor time (the second
// less dependent on what else the machine runs). It asserts nothing (speed
// belongs in a benchmark, not a test).
//   build/linux/rules_bench [records]
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "shape/rules.h"

namespace {

using namespace tarvik;

constexpr std::size_t kRecordChars = 4096;
// Room left for the last GS1 field (its identifier 91 takes up to 90 characters).
constexpr std::size_t kLastFieldRoom = 26;
constexpr std::size_t kLongRecordChars = 64 * 1024;
constexpr int kDefaultRecords = 2000;
constexpr double kKiB = 1024.0;

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

// `line` repeated while the file stays within the size the program reads.
std::string Filled(const std::string& head, const std::string& line) {
  std::string file = head;
  while (file.size() + line.size() <= kRulesFileLimit) file += line;
  return file;
}

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// The peak resident memory since the last ResetPeak, in KiB.
long PeakKiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  std::fclose(status);
  return kib;
}

// A forked child starts with its parent's peak and with the free memory its
// parent's allocator kept, which it would reuse unseen: both go.
void ResetPeak() {
  malloc_trim(0);
  std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (!clear) return;
  std::fputs("5", clear);
  std::fclose(clear);
}

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  constexpr double kMsPerS = 1000.0, kMsPerUs = 0.001;
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * kMsPerS +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * kMsPerUs;
}

// Runs `work` in a child and prints its time and the growth of its peak
// resident memory; `work` says how it ended.
void Measured(const char* what, const std::function<std::string()>& work) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("rules_bench: fork");
    return;
  }
  if (child == 0) {
    ResetPeak();
    const long before = PeakKiB();
    const double cpuBefore = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    const std::string how = work();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("  %-46s %7.1f ms %7.1f ms cpu %6.1f MB  %s\n", what, took.count(), CpuMs() - cpuBefore,
                static_cast<double>(PeakKiB() - before) / kKiB, how.c_str());
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

// The lines of `file` before `line`.
std::string Head(const std::string& file, int line) {
  std::size_t end = 0;
  for (int i = 1; i < line && end != std::string::npos; ++i) end = file.find('\n', end) + 1;
  return file.substr(0, end);
}

// The file's record cost with as many of its lines as the program takes.
void Record(const char* what, const std::string& file, const std::u32string& record) {
  Rules rules = ParseRules(file);
  if (rules.refused) rules = ParseRules(Head(file, rules.refused->line));
  if (!rules.problems.empty()) {
    std::printf("  %s: line %d: %s\n", what, rules.problems[0].line, rules.problems[0].why.c_str());
    return;
  }
  Measured(what, [&] {
    const RuledRecord r = ApplyRules(rules, record, {"notepad.exe", "Orders", ""});
    const char* outcome = r.outcome == RuledRecord::Outcome::kType   ? "typed"
                          : r.outcome == RuledRecord::Outcome::kSkip ? "skipped"
                                                                     : "could not finish";
    return std::string(outcome) + ", " + std::to_string(r.steps) + " steps";
  });
}

void Load(const char* what, const std::string& file) {
  Measured(what, [&] {
    const Rules rules = ParseRules(file);
    std::string how = std::to_string(file.size() / 1024) + " KiB, " +
                      std::to_string(rules.problems.size()) + " bad lines";
    if (rules.refused)
      how += ", refused at line " + std::to_string(rules.refused->line);
    return how;
  });
}

void Adversarial() {
  const std::u32string as(kLongRecordChars, U'a'), sevens(kLongRecordChars, U'7'),
      separators(kLongRecordChars, U'\x1d');
  std::u32string digits;
  for (std::size_t i = 0; i < kLongRecordChars; ++i) digits += U"0123456789"[i % 10];
  std::printf("rules_bench: one 64 KiB record each (time, peak memory above the start, outcome)\n");
  Record("the rules above", kRules, digits);
  std::u32string lines, longLines;  // never 20 'a' on one line; 999 a line
  while (lines.size() + 20 <= kLongRecordChars) lines += std::u32string(19, U'a') + U"\n";
  while (longLines.size() + 1000 <= kLongRecordChars) longLines += std::u32string(999, U'a') + U"\n";
  Record("(a|a)*[bc]: backtracking", "[all]\nskip = (a|a)*[bc]\n", as);
  Record("(.*a){20}: backtracking, short lines", "[all]\nskip = (.*a){20}\n", lines);
  // A class of 4,000 ranges: each character tested costs a binary search.
  std::string wide = "[";
  for (int c = 0x100; c < 0x100 + 2 * 4000; c += 2) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04X", c);
    wide += escape;
  }
  wide += "]";
  Record("(S|S)*[bc], S a class of 4,000 ranges", "[all]\nskip = (?:" + wide + "|" + wide + ")*[bc]\n",
         std::u32string(kLongRecordChars, U'\u0100'));
  Record("30 nested groups in a loop: backtrack stack",
         "[all]\nskip = (?:" + Repeat("(", 30) + "a" + Repeat(")", 30) + ")*[bc]\n", as);
  Record("60 nested lookaheads: kept entries re-scanned",
         "[all]\nskip = " + Repeat("(?=", 60) + "(?:(a))*" + Repeat(")", 60) + "a[bc]\n", longLines);
  Record("replace lines that never match: copies", Filled("[all]\n", "replace = ^z =>\n"), sevens);
  Record("a 1000-character GS mapping: typed text",
         "[all]\nGS = \"" + std::string(1000, 'x') + "\"\n", separators);
  Record("[app] sections: one compare each", Filled("[all]\naim = strip\n", "[app x]\n"), digits);
  Record("skip lines: one search each", Filled("[all]\n", "skip = ^z\n"), digits);

  std::printf("rules_bench: reading a file of at most 1 MiB (time, peak memory above the start)\n");
  Load("skip = (?:ab){9990}: counted repeats", Filled("[all]\n", "skip = (?:ab){9990}\n"));
  Load("skip = (?:ab){10001}: too large, refused", Filled("[all]\n", "skip = (?:ab){10001}\n"));
  Load("[app x]: sections", Filled("", "[app x]\n"));
  Load("skip = \\S\\S...: too large, refused", Filled("[all]\n", "skip = " + Repeat("\\S", 39'000) + "\n"));
  Load("skip = [\\S][\\S]...: a set per class", Filled("[all]\n", "skip = " + Repeat("[\\S]", 19'990) + "\n"));
  Load("skip = [\\S][\\S]...: too large, refused",
       Filled("[all]\n", "skip = " + Repeat("[\\S]", 19'999) + "\n"));
  Load("x: lines that cannot be used", Filled("", "x\n"));
  Load("GS = \"...\": long control texts", Filled("[all]\n", "GS = \"" + std::string(4000, 'x') + "\"\n"));
}

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
  for (int field = 0; record.size() + kLastFieldRoom < kRecordChars; ++field)
    record += U"10ABCD-" + std::u32string(12, U"0123456789"[field % 10]) + U"-12\x1d";
  // The last field fills the record to its size, so the whole of it reads as GS1.
  record += U"91" + std::u32string(kRecordChars - record.size() - 2, U'7');
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
  Adversarial();
  return 0;
}
