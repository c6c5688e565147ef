// The rules file: what it reads, what it skips and why, and what a record
// becomes through it.
#include "shape/rules.h"

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "fakes/fake_link.h"
#include "fakes/fake_pump.h"
#include "fakes/fake_wedge.h"

namespace tarvik {
namespace {

std::string Keys(const TypedRecord& r) {
  std::string out;
  for (char32_t k : r.keys) out += r.Token(k);
  return out;
}

TEST(RulesFile, EveryKeyAndValueFormReadsAlikeWithBomCrLfOrLf) {
  const std::string file =
      "; comment\n# comment\n[Reader]\nLINES = plain ; plain reader\n[all]\n"
      "GS = \"<GS>\"   ; text\nrs = {F8}\nEOT=none\nNul = char\nHT = none\naim = strip\n"
      "gs1 = parens\nskip = ^CFG-\nreplace = ^0+(\\d+)$ => $1   ; zeros\nreplace = x =>\n"
      "replace = - => \" \"\nrepeat_ms = 800\nprefix = {TAB} 2\nsuffix1 = {ENTER}\nsuffix2 = none\n"
      "[app Excel.EXE]\nGS = \"a;b\" ; c\n[title .*Invoice.*]   # by title\n";
  std::string crlf;
  for (char c : file) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& bytes : {file, "\xEF\xBB\xBF" + file, crlf}) {
    const Rules r = ParseRules(bytes);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front().line << ": " << r.problems.front().why;
    EXPECT_EQ(r.lines, LineMode::kPlain);
    ASSERT_TRUE(r.all.controls[0x1D]);
    EXPECT_EQ(r.all.controls[0x1D]->text, U"<GS>");
    EXPECT_EQ(r.all.controls[0x1E]->key, "{F8}");
    EXPECT_EQ(r.all.controls[0x04]->kind, ControlMapping::Kind::kNone);
    EXPECT_EQ(r.all.controls[0x00]->kind, ControlMapping::Kind::kChar);
    EXPECT_EQ(r.all.replace.size(), 3u);
    EXPECT_EQ(r.all.replace[0].line, 14);
    EXPECT_EQ(r.all.replace[2].with, U" ");
    EXPECT_EQ(r.all.repeatMs, 800);
    EXPECT_EQ(r.all.prefix, (KeyRun{"{TAB}", 2}));
    EXPECT_EQ(r.all.suffix1, (KeyRun{"{ENTER}", 1}));
    EXPECT_EQ(r.all.suffix2, KeyRun{});
    ASSERT_EQ(r.sections.size(), 2u);
    EXPECT_EQ(r.sections[0].app, "excel.exe");
    EXPECT_EQ(r.sections[0].set.controls[0x1D]->text, U"a;b");
    EXPECT_EQ(r.sections[1].label, "[title .*Invoice.*]");
  }
}

TEST(RulesFile, LinesThatCannotBeUsedAreSkippedWithTheirNumberAndTheRestApplies) {
  const Rules r = ParseRules(
      "aim = strip\n[all]\nfoo = 1\nGS\nskip = (\nGS = {F13}\nXX = none\nGS = maybe\nprefix = {TAB} 16\n"
      "repeat_ms = -1\nlines = plain\nGS = \"a\x1d\"\nreplace = nothing to replace\n[reader]\nlines = odd\n"
      "[nowhere]\naim = strip\n[title (]\ngs1 = parens\n[app]\n[all]\nRS = {TAB}\n"
      "replace = x => \"ab\nreplace = x ; => y\nskip = /^CFG-/i\nskip = \\u{61}\nskip = /usr/bin/x\n"
      "replace = /a/ => b\n[title /Invoice/]\n");
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "a key before the first section"}, {3, "unknown key \"foo\""}, {4, "no '=' in the line"},
      {5, "the pattern cannot be used: "}, {6, "\"{F13}\" is none, \"text\", {KEY} or char"},
      {7, "unknown key \"xx\""}, {8, "\"maybe\" is none, \"text\", {KEY} or char"},
      {9, "the count is a number from 0 to 15"}, {10, "repeat_ms is a number of milliseconds"},
      {11, "unknown key \"lines\""}, {12, "a control character inside the text"},
      {13, "replace is: pattern => replacement"}, {15, "lines is classic or plain"},
      {16, "unknown section [nowhere]"}, {17, "in the section on line 16, which cannot be used"},
      {18, "the title pattern cannot be used: "}, {19, "in the section on line 18"},
      {20, "unknown section [app]"}, {23, "the replacement's closing quote is missing"},
      {24, "replace is: pattern => replacement"},
      {25, "the pattern cannot be used: patterns are written bare, without slashes or flags"},
      {26, "the pattern cannot be used: \\u{...} needs the u flag"},
      {28, "the pattern cannot be used: patterns are written bare"},
      {29, "the title pattern cannot be used: patterns are written bare"}};
  ASSERT_EQ(r.problems.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(r.problems[i].line, expected[i].first);
    EXPECT_TRUE(r.problems[i].why.starts_with(expected[i].second)) << r.problems[i].why;
  }
  EXPECT_EQ(r.all.controls[0x1E]->key, "{TAB}");  // what follows still applies
  EXPECT_TRUE(r.sections.empty());
}

std::string Lines(const std::string& line, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += line;
  return out;
}

// What a file builds is capped, whatever builds it; a file past the cap is
// refused at the line that passed it, and the rules before stay in force.
TEST(RulesFile, AFileThatWouldBuildTooMuchIsRefusedAtItsLine) {
  // clang-format off
  const struct { const char* what; std::string file; bool refused; } cases[] = {
      {"counted repeats", "[all]\n" + Lines("skip = (?:ab){9990}\n", 40), false},
      {"more of them", "[all]\n" + Lines("skip = (?:ab){9990}\n", 60), true},
      {"too large, refused", "[all]\n" + Lines("skip = (?:ab){10001}\n", 50000), true},
      {"sections", Lines("[app x]\n", 2000), false}, {"more sections", Lines("[app x]\n", 4000), true}};
  // clang-format on
  for (const auto& c : cases) {
    const Rules r = ParseRules(c.file);
    ASSERT_EQ(r.refused.has_value(), c.refused) << c.what;
    if (!c.refused) continue;
    EXPECT_GT(r.refused->line, 2) << c.what;
    EXPECT_TRUE(r.refused->why.starts_with("the rules up to this line take more than 16 MB")) << c.what;
    EXPECT_TRUE(r.Empty() && r.problems.empty()) << c.what;
  }
  testing::FakeWatchedFile file;
  testing::FakeNotice notice;
  testing::FakeClock clock;
  RecordRules rules{file, notice, clock};
  file.Write("[all]\nreplace = a => b\n");
  rules.Refresh();
  file.Write(cases[1].file);
  rules.Refresh();
  ASSERT_EQ(notice.warnings.size(), 1u);
  EXPECT_TRUE(notice.warnings[0].find("The rules before stay in force.") != std::string::npos)
      << notice.warnings[0];
  EXPECT_EQ(Keys(rules.Apply(U"a", {}).keys), "b");
}

TEST(RulesFile, TheTemplateReadsWithoutProblemsAndChangesNothing) {
  for (const char* end : {"\r\n", "\n"}) {
    const Rules r = ParseRules(RulesTemplate(end));
    EXPECT_TRUE(r.problems.empty());
    EXPECT_TRUE(r.Empty());
  }
  EXPECT_TRUE(ParseRules("").Empty());
  EXPECT_TRUE(ParseRules("[all]\n[reader]\nlines = classic\n").Empty());
}

struct Case {
  const char* name;
  std::string file;
  std::u32string record;
  FocusedWindow window;
  RuledRecord::Outcome outcome;
  std::string keys;  // the tokens run together; stopped: the rule's line
  std::string section = "[all]";
  bool changed = true;
};

TEST(RulesApplied, EachStepInItsOrder) {
  using O = RuledRecord::Outcome;
  const std::u32string gs1 = U"]d2010950110102091717190508" U"10ABCD1234\x1d" U"2110";
  const Case cases[] = {
      {"no rule", "[all]\n", U"A\x1d" U"B\tC\x04", {}, O::kType, "AB\tC", "[all]", false},
      {"control forms", "[all]\nGS = \"<GS>\"\nHT = none\nEOT = {F8}\nNUL = char\n", std::u32string(U"A\x1d\t\x04") + U'\0',
       {}, O::kType, "A<GS>{F8}{U+0000}"},
      {"gs1 with the id kept", "[all]\ngs1 = parens\n", gs1, {}, O::kType,
       "]d2(01)09501101020917(17)190508(10)ABCD1234(21)10"},
      {"gs1 stripped", "[all]\naim = strip\ngs1 = parens\nGS = \"|\"\n", gs1, {}, O::kType,
       "(01)09501101020917(17)190508(10)ABCD1234(21)10"},
      {"not gs1: raw", "[all]\ngs1 = parens\nGS = \"|\"\n", U"]d2XYZ\x1d" U"1", {}, O::kType, "]d2XYZ|1"},
      {"an EAN id stripped", "[all]\naim = strip\n", U"]E04006381333931", {}, O::kType, "4006381333931"},
      {"no id to strip", "[all]\naim = strip\n", U"]]4", {}, O::kType, "]]4", "[all]", false},
      {"skip sees gs1", "[all]\ngs1 = parens\naim = strip\nskip = ^\\(01\\)\n", gs1, {}, O::kSkip, ""},
      {"replace in order", "[all]\nreplace = ^0+(\\d+)$ => $1\nreplace = (\\d)$ => <$&$$>\n", U"000123", {},
       O::kType, "12<3$>"},
      {"app by name, any case", "[all]\nreplace = A => B\n[app other.exe]\nreplace = B => X\n"
       "[app NOTEPAD.exe]\nreplace = B => C\nsuffix1 = {TAB} 3\n", U"A", {"notepad.EXE", "", ""}, O::kType, "C",
       "[app NOTEPAD.exe]"},
      {"title, first match wins", "[title .*Invoice.*]\nreplace = $ => !\n[app x.exe]\nreplace = $ => ?\n",
       U"A", {"x.exe", "Invoice 7", ""}, O::kType, "A!", "[title .*Invoice.*]"},
      {"a section's skip replaces all's", "[all]\nskip = A\n[app x.exe]\nskip = Z\n", U"A", {"x.exe", "", ""},
       O::kType, "A", "[app x.exe]", false},
      {"a quoted replacement keeps ' ; '", "[all]\nreplace = - => \" ; \"   ; spaced\n", U"a-b", {}, O::kType, "a ; b"},
      {"any skip line skips", "[all]\nskip = ^A\nskip = ^B\n", U"B1", {}, O::kSkip, ""},
      {"by process name, keys in any case", "[app gnome-text-edit]\nsuffix1 = {tab} 1\nGS = {f8}\n",
       U"\x1d", {"gnome-text-editor", "", "gnome-text-edit"}, O::kType, "{F8}", "[app gnome-text-edit]"},
      {"a costly pattern stops", "[all]\nreplace = (a|a)*[bc] => x\n", std::u32string(40, U'a'), {}, O::kStopped,
       "2"},
      {"a mapping that grows the record stops", "[all]\nGS = \"" + std::string(100, 'x') + "\"\n",
       std::u32string(1000, U'\x1d'), {}, O::kStopped, "2"},
      {"a growing record stops", "[all]\n" + [] {
         std::string s;
         for (int i = 0; i < 20; ++i) s += "replace = . => $&$&\n";
         return s;
       }(), U"abc", {}, O::kStopped, "16"},
  };
  for (const auto& c : cases) {
    const Rules rules = ParseRules(c.file);
    ASSERT_TRUE(rules.problems.empty()) << c.name << ": " << rules.problems.front().why;
    const RuledRecord r = ApplyRules(rules, c.record, c.window);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    if (c.outcome == O::kStopped) {
      EXPECT_EQ(std::to_string(r.ruleLine), c.keys) << c.name;
    }
    if (c.outcome != O::kType) continue;
    EXPECT_EQ(Keys(r.keys), c.keys) << c.name;
    EXPECT_EQ(r.section, c.section) << c.name;
    EXPECT_EQ(r.changed, c.changed) << c.name;
  }
  // Looking through sections is work too: a file may hold thousands.
  const Rules many = ParseRules("[app a]\n[app b]\n[app c]\n");
  const RuledRecord r = ApplyRules(many, U"A", {"c", "", ""}, 2);
  EXPECT_EQ(r.outcome, RuledRecord::Outcome::kStopped);
  EXPECT_EQ(r.ruleLine, 3);
  EXPECT_EQ(ApplyRules(many, U"A", {"c", "", ""}, 3).section, "[app c]");
}

TEST(RulesApplied, KeyRunsComeFromTheSectionElseAll) {
  const Rules rules = ParseRules("[all]\nprefix = {TAB} 2\nsuffix1 = {ENTER}\npace = 10\n[app x.exe]\n"
                                 "suffix1 = none\nverify = off\n[app z.exe]\npace = 0\nverify = on\n"
                                 "pace = 201\nverify = no\n");
  EXPECT_EQ(rules.problems.size(), 2u);  // past the delay list's longest; neither on nor off
  const RuledRecord other = ApplyRules(rules, U"A", {"y.exe", "", ""});
  EXPECT_EQ(other.keys.prefix, (KeyRun{"{TAB}", 2}));
  EXPECT_EQ(other.keys.suffix1, (KeyRun{"{ENTER}", 1}));
  EXPECT_FALSE(other.keys.suffix2);  // the window's list
  EXPECT_EQ(other.keys.paceMs, 10);
  EXPECT_TRUE(other.verify);
  const RuledRecord mine = ApplyRules(rules, U"A", {"x.exe", "", ""});
  EXPECT_EQ(mine.keys.prefix, (KeyRun{"{TAB}", 2}));
  EXPECT_EQ(mine.keys.suffix1, KeyRun{});
  EXPECT_EQ(mine.keys.paceMs, 10);
  EXPECT_FALSE(mine.verify);
  EXPECT_EQ(ApplyRules(rules, U"A", {"z.exe", "", ""}).keys.paceMs, 0);
}

}  // namespace
}  // namespace tarvik
