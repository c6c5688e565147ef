#include "core/pattern.h"

#include <gtest/gtest.h>

#include <regex>

namespace tarvik {
namespace {

using namespace std::string_view_literals;

// For failure messages: ASCII as is, anything else as '?'.
std::string Ascii(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

Pattern Must(std::u32string_view source) {
  std::string error;
  std::optional<Pattern> p = Pattern::Compile(source, error);
  EXPECT_TRUE(p) << Ascii(source) << ": " << error;
  return p ? *p : *Pattern::Compile(U"(?!)", error);
}

// "begin,end" per group, "-" for an unset one; or "none", "costly".
std::string Describe(MatchResult r, const PatternMatch& m) {
  if (r != MatchResult::kMatch) return r == MatchResult::kNoMatch ? "none" : "costly";
  std::string out;
  for (const PatternMatch::Span& g : m.groups) {
    if (!out.empty()) out += ' ';
    out += g.matched() ? std::to_string(g.begin) + "," + std::to_string(g.end) : "-";
  }
  return out;
}

std::string Find(std::u32string_view pattern, std::u32string_view text, std::size_t from = 0) {
  PatternMatch m;
  PatternBudget budget;
  return Describe(Must(pattern).Search(text, from, m, budget), m);
}

TEST(PatternCompile, MalformedPatternsAreRefusedWithAReason) {
  // clang-format off
  const struct { const char32_t* pattern; const char* error; } cases[] = {
      {U"(a", "missing ')'"}, {U"a)", "unmatched ')'"}, {U"*a", "nothing to repeat"},
      {U"a**", "nothing to repeat"}, {U"a{2}{3}", "nothing to repeat"},
      {U"{1}", "nothing to repeat"}, {U"^*", "nothing to repeat"}, {U"\\b+", "nothing to repeat"},
      {U"a|?", "nothing to repeat"},
      {U"a{3,2}", "numbers out of order in {} quantifier"},
      {U"[z-a]", "range out of order in character class"}, {U"[ab", "missing ']'"},
      {U"a\\", "\\ at end of pattern"}, {U"(?<=a)b", "lookbehind is not supported"},
      {U"(?<!a)b", "lookbehind is not supported"}, {U"(?<n>a)", "named groups are not supported"},
      {U"(?i)a", "invalid group"}, {U"\\1", "reference to a missing group"},
      {U"(a)\\2", "reference to a missing group"}, {U"\\q", "invalid escape \\q"},
      {U"\\k<n>", "invalid escape \\k"}, {U"\\x4", "invalid \\x escape"},
      {U"\\u12G4", "invalid \\u escape"},
      {U"[\\u{61}]", "\\u{...} needs the u flag, and patterns take no flags: write \\uXXXX"},
      {U"\\c1", "invalid \\c escape"}, {U"\\01", "octal escapes are not supported"},
      {U"[\\1]", "octal escapes are not supported"}, {U"((ab){1000}){1000}", "pattern too large"},
      {U"(?:ab){10001}", "pattern too large"}};
  // clang-format on
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Pattern::Compile(c.pattern, error)) << "expected " << c.error;
    EXPECT_EQ(error, c.error);
  }
  std::string error;
  const std::u32string deep =
      std::u32string(kMaxPatternNesting, '(') + U"a" + std::u32string(kMaxPatternNesting, ')');
  EXPECT_TRUE(Pattern::Compile(deep, error)) << error;
  EXPECT_FALSE(Pattern::Compile(U"(" + deep + U")", error));
  EXPECT_EQ(error, "groups nested too deep");
  // Repeating one character is one instruction however many times.
  EXPECT_TRUE(Pattern::Compile(U"a{100000}[a-z]{0,100000}?(?:ab){5000}", error)) << error;
}

TEST(PatternSearch, FindsTheMatchEcmaScriptFinds) {
  // clang-format off
  const struct { const char32_t* pattern; std::u32string_view text; const char* want; } cases[] = {
      // Loops over groups (leftmost first, alternatives in order, greedy or lazy: the oracle below).
      {U"(ab){2}", U"xababab", "1,5 3,5"}, {U"(?:ab){2,}?", U"ababab", "0,4"},
      {U"(a|b)??b", U"ab", "0,2 0,1"},
      // A '{' that is no quantifier, a lone ']' or '}', are characters.
      {U"a{,2}", U"a{,2}", "0,5"}, {U"x{1,2", U"x{1,2", "0,5"}, {U"a{b}]", U"a{b}]", "0,5"},
      // Backreferences (an unset group matches empty) and lookahead (atomic).
      {U"(a)|\\1b", U"b", "0,1 -"}, {U"\\1(a)", U"a", "0,1 0,1"},
      {U"(?=(a+))a*b\\1", U"baaabac", "3,6 3,4"},
      {U"(.*?)a(?!(a+)b\\2c)\\2(.*)", U"baaabaac", "0,8 0,2 - 3,8"},
      {U"\\bcat\\b", U"concat cat", "7,10"}, {U"\\Bcat", U"cat concat", "7,10"},
      {U"\\b", U"  ", "none"}, {U"\\b_", U"a _", "2,3"},
      // Classes and escapes.
      {U"[a-c]+", U"xxabcd", "2,5"}, {U"[^a-c]+", U"abxyc", "2,4"}, {U"[\\d-]+", U"a1-2b", "1,4"},
      {U"[\\]}-]+", U"a]}-", "1,4"}, {U"[-a]+", U"-a", "0,2"}, {U"[]", U"a", "none"},
      {U"[^]", U"\n", "0,1"}, {U"[\\b]", U"b\b", "1,2"}, {U"[^\\D]", U"a7", "1,2"},
      {U"[\\s\\w]+", U"-a b_", "1,5"}, {U"[^a]", U"a\u00E9", "1,2"}, {U".+", U"ab\ncd", "0,2"},
      {U".", U"\r\u2028\u2029x", "3,4"}, {U"\\s+", U"a\u00A0\u3000\uFEFFb", "1,4"},
      {U"\\S\\W\\D", U" a!b", "1,4"}, {U"\\w+", U"\u00E9_a1", "1,4"},
      {U"\\x41\\u0042\\cJ\\0\\t", U"AB\n\0\t"sv, "0,5"},
      {U"\\uD83D\\uDE00", U"\U0001F600", "0,1"},
      {U"\\.\\*\\/\\-\\$\\\\", U".*/-$\\", "0,6"}, {U"\u00E9+", U"e\u00E9\u00E9", "1,3"},
      {U"a|b|c|d|e|f|g|h|i|\u00E9", U"\u00E8\u00E9", "1,2"},
      // An iteration that matches empty ends the loop; captures reset at each iteration.
      {U"(a*)*", U"b", "0,0 -"}, {U"(a*)+", U"b", "0,0 0,0"}, {U"(a|b)*c", U"abc", "0,3 1,2"},
      {U"(?:a|())*?b", U"ab", "0,2 -"}, {U"(a*)*b", U"aab", "0,3 0,2"},
      {U"(?:(a)|b)+", U"ab", "0,2 -"},
      {U"(z)((a+)?(b+)?(c))*", U"zaacbbbcac", "0,10 0,1 8,10 8,9 - 9,10"},
      // Start positions skipped after a failed leading star.
      {U".*b", U"aaa\nab", "4,6"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(Find(c.pattern, c.text), c.want) << Ascii(c.pattern);
  EXPECT_EQ(Find(U"a", U"aXa", 1), "2,3");
  EXPECT_EQ(Find(U"^a", U"aa", 1), "none");
  EXPECT_EQ(Find(U"", U"ab", 2), "2,2");
  EXPECT_EQ(Find(U"", U"ab", 3), "none");
}

// libstdc++ follows ECMAScript on patterns without loops over groups: compare on
// every text of up to six characters.
TEST(PatternSearch, AgreesWithStdRegexOnShortTexts) {
  const char* patterns[] = {
      // Alternatives in order, greedy or lazy.
      "a|ab", "ab|a", "a|", "(a+)(a*)", "(a+?)(a*)", "a*?b", "a{2,3}", "a{2,3}?", "a{2}", "(a|ab)(c|bcd)?",
      "[ab]{2,3}?a", "(?:ab|a)b*", "b{2}|a+", "(a)?b", "(b|)a{1,2}", "b+?c{0,1}", ".*c(a)?",
      // Backreferences, lookahead, anchors and boundaries.
      "(a+)b\\1", "a(?=b)", "a(?!b)", "a(?!b).", "^b", "a$", "^$", "$", "a$|b", "^a|b",
      "^a*$", "\\bab", "c\\B.", "[^a]c*",
      // Start positions skipped after a failed leading star.
      "a*c", "a+?b", ".*x"};
  for (const char* source : patterns) {
    const std::regex oracle(source, std::regex::ECMAScript);
    const Pattern mine = Must(std::u32string(source, source + std::string_view(source).size()));
    for (int length = 0, total = 1; length <= 6; ++length, total *= 3) {
      for (int code = 0; code < total; ++code) {
        std::string text;
        for (int k = 0, v = code; k < length; ++k, v /= 3) text += "abc"[v % 3];
        std::smatch want;
        std::string expected = std::regex_search(text, want, oracle) ? "" : "none";
        for (std::size_t g = 0; g < want.size(); ++g) {
          expected += g > 0 ? " " : "";
          expected += want[g].matched ? std::to_string(want.position(g)) + "," +
                                            std::to_string(want.position(g) + want.length(g))
                                      : "-";
        }
        PatternMatch m;
        PatternBudget budget;
        const std::u32string wide(text.begin(), text.end());
        EXPECT_EQ(Describe(mine.Search(wide, 0, m, budget), m), expected)
            << source << " on " << text;
      }
    }
  }
}

TEST(PatternReplace, ReplacesEveryMatch) {
  // clang-format off
  const struct { const char32_t *pattern, *text, *replacement, *expected; } cases[] = {
      {U"^0+(\\d+)$", U"000123", U"$1", U"123"}, {U"-", U"a-b-c", U"", U"abc"},
      {U"b*", U"abc", U"-", U"-a--c-"}, {U"(a)|b", U"ab", U"[$1]", U"[a][]"},
      {U"a", U"a", U"$&$&", U"aa"}, {U"a", U"a", U"$$", U"$"}, {U"a", U"a", U"$0$2$x$", U"$0$2$x$"},
      {U"(a)", U"a", U"$10", U"a0"}, {U"x*", U"", U"y", U"y"},
      {U"(\\d)(\\d)", U"12345", U"$2$1", U"21435"},
      {U"$", U"ab", U"!", U"ab!"}, {U"^", U"ab", U">", U">ab"}, {U"\\s+$", U"ab \t ", U"", U"ab"},
      {U"z", U"ab", U"y", U"ab"}, {U"(?:)", U"\u00E9\u00E9", U".", U".\u00E9.\u00E9."}};
  // clang-format on
  for (const auto& c : cases) {
    std::u32string out;
    PatternBudget budget;
    const MatchResult r = Must(c.pattern).ReplaceAll(c.text, c.replacement, out, budget, 100);
    EXPECT_EQ(r, out == c.text ? MatchResult::kNoMatch : MatchResult::kMatch) << Ascii(c.pattern);
    EXPECT_EQ(Ascii(out), Ascii(c.expected)) << Ascii(c.pattern);
  }
  std::u32string out;
  PatternBudget budget;
  const Pattern a = Must(U"a");
  EXPECT_EQ(a.ReplaceAll(U"aaaa", U"bb", out, budget, 8), MatchResult::kMatch);
  EXPECT_EQ(out, U"bbbbbbbb");
  EXPECT_EQ(a.ReplaceAll(U"aaaa", U"bb", out, budget, 7), MatchResult::kTooCostly);
  EXPECT_EQ(a.ReplaceAll(U"xxxx", U"bb", out, budget, 3), MatchResult::kTooCostly);  // the rest too
}

TEST(PatternBudget, PathologicalPatternsRunOutOfStepsWhileOrdinaryRulesDoNot) {
  const std::u32string as(65536, 'a');
  std::u32string lines;  // never 20 'a' on one line
  while (lines.size() < 65536) lines += std::u32string(19, 'a') + U"\n";
  // clang-format off
  const struct { const char32_t* pattern; std::u32string text; } costly[] = {
      {U"(a*)*[bc]", as}, {U"(a|a)*[bc]", as}, {U"(a+)+$", as + U"!"}, {U"(.*a){20}", lines},
      {U"(?:a*)*[bc]", as}, {U"(a|aa)+$", as + U"!"}, {U"^(a+)\\1*[bc]", as},
      {U"(?=(a*))\\1*[bc]", as}};
  // clang-format on
  for (const auto& c : costly) {
    PatternMatch m;
    PatternBudget budget;
    // Out of steps, or of room for choice points first.
    EXPECT_EQ(Must(c.pattern).Search(c.text, 0, m, budget), MatchResult::kTooCostly)
        << Ascii(c.pattern);
  }
  const std::u32string record = U"0000" + std::u32string(65532, '7');
  PatternMatch m;
  PatternBudget budget;
  // A literal every match needs, nowhere in the text: no start is tried.
  EXPECT_EQ(Must(U"(a*)*b").Search(as, 0, m, budget), MatchResult::kNoMatch);
  EXPECT_EQ(budget.left, kPatternStepBudget - 1 - as.size() / 64);
  EXPECT_EQ(Describe(Must(U"^0+(\\d+)$").Search(record, 0, m, budget), m), "0,65536 4,65536");
  EXPECT_EQ(Describe(Must(U"7+$").Search(record, 0, m, budget), m), "4,65536");
  EXPECT_EQ(Describe(Must(U".*Invoice.*").Search(lines, 0, m, budget), m), "none");
  // The caller's budget is spent across calls until it is gone.
  const Pattern rule = Must(U"^0+(\\d+)$");
  int matches = 0;
  while (matches < 20 && rule.Search(record, 0, m, budget) == MatchResult::kMatch) ++matches;
  EXPECT_GT(matches, 0);
  EXPECT_LT(matches, 15);
  EXPECT_EQ(budget.left, 0u);
  // A start position costs one step, and no more when its character rules it
  // out; an anchored pattern tries one position.
  const std::u32string bs(65536, 'b');
  const std::tuple<std::uint64_t, const char32_t*, std::u32string_view, const char*> tight[] = {
      {66000, U"x|yz", bs, "none"}, {60000, U"x|yz", bs, "costly"}, {10, U"^a", bs, "none"},
      {3, U"b", U"aaab", "costly"}, {100, U"b", U"aaab", "3,4"}};
  for (const auto& [left, pattern, text, want] : tight) {
    budget.left = left;
    EXPECT_EQ(Describe(Must(pattern).Search(text, 0, m, budget), m), want) << left;
  }
  EXPECT_LT(budget.left, 100u);
}

// Work and memory the step count alone would miss: a choice point or capture
// write per character past the backtrack cap, lookaheads nested in
// lookaheads going over the same entries, a replace copying a record it does
// not change.
TEST(PatternBudget, EachBoundStopsWhatWouldPassIt) {
  const std::u32string nested = std::u32string(U"^") + [] {
    std::u32string open, close;
    for (int i = 0; i < 60; ++i) open += U"(?=", close += U")";
    return open + U"(?:(a))*" + close;
  }();
  const std::u32string sevens(65536, '7');
  // clang-format off
  const struct {
    const char* what; std::u32string pattern; std::u32string text; std::uint64_t budget;
    MatchResult want; std::uint64_t minSpent, maxSpent;
  } cases[] = {
      {"stack within the cap", U"^(?:(a))*[bc]", std::u32string(40000, 'a'), kPatternStepBudget,
       MatchResult::kNoMatch, 0, kPatternStepBudget},
      {"stack past the cap, steps left", U"^(?:(a))*[bc]", std::u32string(65536, 'a'), kPatternStepBudget,
       MatchResult::kTooCostly, 0, kPatternStepBudget / 2},
      {"60 lookaheads go over the kept entries 60 times", nested, std::u32string(2000, 'a'),
       kPatternStepBudget, MatchResult::kMatch, 59 * 2 * 2000, kPatternStepBudget},
      {"a replace that changes nothing copies the record", U"^z", sevens, kPatternStepBudget,
       MatchResult::kNoMatch, 65536 / 64, 65536},
      {"which it cannot afford", U"^z", sevens, 100, MatchResult::kTooCostly, 0, 100}};
  // clang-format on
  for (const auto& c : cases) {
    PatternBudget budget{c.budget};
    PatternMatch m;
    std::u32string out;
    const Pattern p = Must(c.pattern);
    const MatchResult r = c.pattern == U"^z" ? p.ReplaceAll(c.text, U"y", out, budget, c.text.size())
                                             : p.Search(c.text, 0, m, budget);
    EXPECT_EQ(r, c.want) << c.what;
    EXPECT_GE(c.budget - budget.left, c.minSpent) << c.what;
    EXPECT_LE(c.budget - budget.left, c.maxSpent) << c.what;
  }
}

}  // namespace
}  // namespace tarvik
