#include "shape/rules.h"

#include <algorithm>
#include <charconv>

#include "core/trim.h"
#include "core/utf8.h"
#include "shape/gs1.h"
#include "keys/brace_keys.h"

namespace tarvik {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlank = " \t";
constexpr char32_t kTab = U'\t';
constexpr std::size_t kAimLength = 3;  // ']', the code character, the modifier
constexpr int kMaxRunCount = 15;       // as the window's repeat lists
// What a vector may hold for each element it has: it grows by doubling.
constexpr std::size_t kVectorSlack = 2;
// The flags of ECMAScript's /pattern/flags form.
constexpr std::string_view kEcmaFlags = "dgimsuvy";

constexpr std::array<std::string_view, kControlCount> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",  "DEL"};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Appended piecewise: "\"" + text trips a false -Wrestrict in GCC 12.
std::string InQuotes(std::string_view text) {
  std::string out(1, '"');
  out.append(text);
  out += '"';
  return out;
}

// Key tokens are read in any case, as everything else; the lists spell them
// in capitals.
std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

// A ';' or '#' at the start or after a blank starts a comment. In a pattern,
// "\x20;" or "[ ];" keeps a space before a semicolon.
std::string_view WithoutComment(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    if ((text[i] == ';' || text[i] == '#') && (i == 0 || Blank(text[i - 1])))
      return Trim(text.substr(0, i), kBlank);
  return Trim(text, kBlank);
}

// A value in double quotes runs to the first quote that only blanks and a
// comment follow, so the text may hold quotes, semicolons and hashes.
std::optional<std::string_view> Quoted(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::nullopt;
  for (std::size_t i = 1; i < value.size(); ++i) {
    if (value[i] != '"') continue;
    const auto rest = Trim(value.substr(i + 1), kBlank);
    if (rest.empty() || rest.front() == ';' || rest.front() == '#') return value.substr(1, i - 1);
  }
  return std::nullopt;
}

bool HasControl(std::u32string_view text) {
  return std::any_of(text.begin(), text.end(), [](char32_t c) { return ControlIndex(c).has_value(); });
}

// "/^CFG-/i", as patterns are written in program code. Here the slashes
// would be characters to match and the flags more characters, so the line
// would quietly never match what its writer meant.
bool SlashedPattern(std::string_view source) {
  const auto close = source.rfind('/');
  if (!source.starts_with('/') || close == 0) return false;
  const std::string_view flags = source.substr(close + 1);
  for (std::size_t i = 0; i < flags.size(); ++i)
    if (kEcmaFlags.find(flags[i]) == std::string_view::npos ||
        flags.find(flags[i], i + 1) != std::string_view::npos)
      return false;
  return true;
}

std::optional<Pattern> CompileRule(std::string_view source, std::string& error, std::size_t& built) {
  if (SlashedPattern(source)) {
    error = "patterns are written bare, without slashes or flags: ^CFG- for /^CFG-/, \\/ for a leading /";
    return std::nullopt;
  }
  return Pattern::Compile(DecodeUtf8(source), error, built);
}

std::optional<int> Number(std::string_view text, int max) {
  int n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 0 || n > max)
    return std::nullopt;
  return n;
}

class Parser {
 public:
  Rules Run(std::string_view bytes);

 private:
  enum class Where { kNowhere, kReader, kRules, kBroken };
  void Section(std::string_view inner);
  void Key(std::string_view key, std::string_view rawValue);
  void RuleKey(RuleSet& set, const std::string& key, std::string_view rawValue);
  std::optional<KeyRun> KeyRunOf(std::string_view value);
  void Problem(std::string why) {
    Held(kVectorSlack * sizeof(RulesProblem) + why.capacity());
    rules_.problems.push_back({line_, std::move(why)});
  }
  // What the rules read so far hold grew by `bytes`.
  void Held(std::size_t bytes) {
    held_ += bytes;
    if (held_ > kRulesCompiledLimit && !rules_.refused)
      rules_.refused = RulesProblem{line_, "the rules up to this line take more than " +
                                               std::to_string(kRulesCompiledLimit >> 20) +
                                               " MB once read"};
  }

  Rules rules_;
  std::size_t held_ = 0;
  int line_ = 0;
  Where where_ = Where::kNowhere;
  RuleSet* set_ = nullptr;
  int brokenAt_ = 0;
};

Rules Parser::Run(std::string_view bytes) {
  if (bytes.starts_with(kBom)) bytes.remove_prefix(kBom.size());
  while (!bytes.empty() && !rules_.refused) {
    ++line_;
    const auto feed = bytes.find('\n');
    std::string_view raw = bytes.substr(0, feed);
    bytes.remove_prefix(feed == std::string_view::npos ? bytes.size() : feed + 1);
    if (raw.ends_with('\r')) raw.remove_suffix(1);
    const std::string_view text = Trim(raw, kBlank);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      const auto header = WithoutComment(text);
      if (header.size() < 2 || header.back() != ']') {
        Problem("a section name without its closing ']'");
        where_ = Where::kBroken, brokenAt_ = line_;
        continue;
      }
      Section(Trim(header.substr(1, header.size() - 2), kBlank));
      continue;
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
      Problem("no '=' in the line");
      continue;
    }
    Key(Trim(text.substr(0, equals), kBlank), Trim(text.substr(equals + 1), kBlank));
  }
  if (!rules_.refused) return std::move(rules_);
  Rules refused;
  refused.refused = rules_.refused;
  return refused;
}

void Parser::Section(std::string_view inner) {
  const auto space = inner.find_first_of(kBlank);
  const std::string kind = Lower(inner.substr(0, space));
  const std::string_view rest =
      space == std::string_view::npos ? std::string_view() : Trim(inner.substr(space), kBlank);
  where_ = Where::kRules;
  if (kind == "reader" && rest.empty()) {
    where_ = Where::kReader;
  } else if (kind == "all" && rest.empty()) {
    set_ = &rules_.all;
  } else if ((kind == "app" || kind == "title") && !rest.empty()) {
    RuleSection s;
    s.label.append("[").append(inner).append("]");
    s.line = line_;
    if (kind == "app") {
      s.app = Lower(rest);
    } else {
      std::string error;
      std::size_t built = 0;
      s.title = CompileRule(rest, error, built);
      Held(built);
      if (!s.title) {
        Problem("the title pattern cannot be used: " + error);
        where_ = Where::kBroken, brokenAt_ = line_;
        return;
      }
    }
    Held(kVectorSlack * sizeof(RuleSection) + s.label.capacity() + s.app.capacity());
    rules_.sections.push_back(std::move(s));
    set_ = &rules_.sections.back().set;
  } else {
    Problem("unknown section [" + std::string(inner) + "]");
    where_ = Where::kBroken, brokenAt_ = line_;
  }
}

void Parser::Key(std::string_view key, std::string_view rawValue) {
  const std::string name = Lower(key);
  switch (where_) {
    case Where::kNowhere:
      return Problem("a key before the first section");
    case Where::kBroken:
      return Problem("in the section on line " + std::to_string(brokenAt_) +
                     ", which cannot be used");
    case Where::kReader: {
      if (name != "lines") return Problem("unknown key " + InQuotes(key) + " in [reader]");
      const std::string value = Lower(WithoutComment(rawValue));
      if (value == "classic") rules_.lines = LineMode::kClassic;
      else if (value == "plain") rules_.lines = LineMode::kPlain;
      else Problem("lines is classic or plain");
      return;
    }
    case Where::kRules:
      return RuleKey(*set_, name, rawValue);
  }
}

std::optional<KeyRun> Parser::KeyRunOf(std::string_view value) {
  if (Lower(value) == "none") return KeyRun{};
  const auto space = value.find_first_of(kBlank);
  const std::string token = Upper(value.substr(0, space));
  const std::string_view count =
      space == std::string_view::npos ? "1" : Trim(value.substr(space), kBlank);
  if (!FindBraceKey(token)) {
    Problem(InQuotes(token) + " is no key of the option lists");
    return std::nullopt;
  }
  const auto n = Number(count, kMaxRunCount);
  if (!n) {
    Problem("the count is a number from 0 to " + std::to_string(kMaxRunCount));
    return std::nullopt;
  }
  return KeyRun{token, *n};
}

void Parser::RuleKey(RuleSet& set, const std::string& key, std::string_view rawValue) {
  const std::string_view value = WithoutComment(rawValue);
  auto pattern = [&](std::string_view source) -> std::optional<Pattern> {
    std::string error;
    std::size_t built = kVectorSlack * sizeof(RuleSet::Replace);
    auto p = CompileRule(source, error, built);
    Held(built);  // a refused pattern cost its reading too
    if (!p) Problem("the pattern cannot be used: " + error);
    return p;
  };
  const auto control = std::find_if(kControlNames.begin(), kControlNames.end(),
                                    [&](std::string_view n) { return Lower(n) == key; });
  if (control != kControlNames.end()) {
    ControlMapping m;
    const std::string lower = Lower(value);
    if (const auto text = Quoted(rawValue)) {
      m.kind = ControlMapping::Kind::kText;
      m.text = DecodeUtf8(*text);
      if (HasControl(m.text)) return Problem("a control character inside the text");
    } else if (lower == "none") {
      m.kind = ControlMapping::Kind::kNone;
    } else if (lower == "char") {
      m.kind = ControlMapping::Kind::kChar;
    } else if (FindBraceKey(Upper(value))) {
      m.kind = ControlMapping::Kind::kKey;
      m.key = Upper(value);
    } else {
      return Problem(InQuotes(value) + " is none, \"text\", {KEY} or char");
    }
    m.line = line_;
    Held(m.text.capacity() * sizeof(char32_t) + m.key.capacity());
    set.controls[static_cast<std::size_t>(control - kControlNames.begin())] = std::move(m);
  } else if (key == "aim") {
    const std::string v = Lower(value);
    if (v != "keep" && v != "strip") return Problem("aim is keep or strip");
    set.stripAim = v == "strip";
  } else if (key == "gs1") {
    const std::string v = Lower(value);
    if (v != "raw" && v != "parens") return Problem("gs1 is raw or parens");
    set.gs1Parens = v == "parens";
  } else if (key == "skip") {
    if (value.empty()) return Problem("skip needs a pattern");
    if (auto p = pattern(value)) set.skip.push_back({std::move(*p), line_});
  } else if (key == "replace") {
    // The first "=>" with a blank before it, looked for before comments are
    // cut: a replacement in quotes may hold " ;" and keeps its blanks.
    std::size_t arrow = std::string_view::npos;
    for (std::size_t i = rawValue.find("=>"); i != std::string_view::npos; i = rawValue.find("=>", i + 1))
      if (i > 0 && Blank(rawValue[i - 1])) {
        arrow = i;
        break;
      }
    const auto before = Trim(rawValue.substr(0, arrow == std::string_view::npos ? 0 : arrow), kBlank);
    // An arrow inside a comment is none.
    if (arrow == std::string_view::npos || WithoutComment(before).size() != before.size())
      return Problem("replace is: pattern => replacement");
    if (before.empty()) return Problem("replace needs a pattern before =>");
    const auto after = Trim(rawValue.substr(arrow + 2), kBlank);
    std::string_view with = WithoutComment(after);
    if (!after.empty() && after.front() == '"') {
      const auto quoted = Quoted(after);
      if (!quoted) return Problem("the replacement's closing quote is missing");
      with = *quoted;
    }
    if (auto p = pattern(before)) {
      set.replace.push_back({std::move(*p), DecodeUtf8(with), line_});
      Held(set.replace.back().with.capacity() * sizeof(char32_t));
    }
  } else if (key == "repeat_ms") {
    const auto n = Number(value, kMaxRepeatMs);
    if (!n) return Problem("repeat_ms is a number of milliseconds up to " + std::to_string(kMaxRepeatMs));
    set.repeatMs = *n;
  } else if (key == "pace") {
    const auto n = Number(value, kMaxPaceRuleMs);
    if (!n) return Problem("pace is a number of milliseconds up to " + std::to_string(kMaxPaceRuleMs));
    set.paceMs = *n;
  } else if (key == "verify") {
    const std::string v = Lower(value);
    if (v != "on" && v != "off") return Problem("verify is on or off");
    set.verify = v == "on";
  } else if (key == "keys") {
    const std::string v = Lower(value);
    if (v != "auto" && v != "layout" && v != "unicode") return Problem("keys is auto, layout or unicode");
    set.keyMode = v == "layout" ? KeyMode::kLayout : v == "unicode" ? KeyMode::kUnicode : KeyMode::kAuto;
  } else if (key == "prefix" || key == "suffix1" || key == "suffix2") {
    auto run = KeyRunOf(value);
    if (!run) return;
    (key == "prefix" ? set.prefix : key == "suffix1" ? set.suffix1 : set.suffix2) = std::move(*run);
  } else {
    Problem("unknown key " + InQuotes(key));
  }
}

// The parts of an AIM symbology identifier: a letter, then a letter or digit.
bool IsAimId(std::u32string_view text) {
  auto letter = [](char32_t c) { return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'); };
  auto digit = [](char32_t c) { return c >= U'0' && c <= U'9'; };
  return text.size() >= kAimLength && text[0] == U']' && letter(text[1]) &&
         (letter(text[2]) || digit(text[2]));
}

template <typename T>
const T& Pick(const std::optional<T>& own, const std::optional<T>& all, const T& fallback) {
  return own ? *own : all ? *all : fallback;
}

}  // namespace

std::optional<std::size_t> ControlIndex(char32_t ch) {
  if (ch < 0x20) return static_cast<std::size_t>(ch);
  if (ch == kDelete) return kControlCount - 1;
  return std::nullopt;
}

bool RuleSet::Empty() const {
  return std::none_of(controls.begin(), controls.end(), [](const auto& c) { return c.has_value(); }) &&
         !stripAim && !gs1Parens && skip.empty() && replace.empty() && !repeatMs && !prefix && !suffix1 &&
         !suffix2 && !keyMode && !paceMs && !verify;
}

Rules ParseRules(std::string_view bytes) { return Parser().Run(bytes); }

RuledRecord ApplyRules(const Rules& rules, std::u32string_view text, const FocusedWindow& window,
                       std::uint64_t steps) {
  RuledRecord r;
  r.section = "[all]";
  PatternBudget budget{steps};
  auto stop = [&](int line) {
    r.outcome = RuledRecord::Outcome::kStopped;
    r.ruleLine = line;
    r.steps = steps - budget.left;
    return r;
  };

  const RuleSet* own = nullptr;
  const std::string program = Lower(window.program), process = Lower(window.processName);
  const std::u32string title = DecodeUtf8(window.title);
  for (const auto& s : rules.sections) {
    bool hit = false;
    if (s.title) {
      PatternMatch m;
      const MatchResult found = s.title->Search(title, 0, m, budget);
      if (found == MatchResult::kTooCostly) return stop(s.line);
      hit = found == MatchResult::kMatch;
    } else {
      if (budget.left == 0) return stop(s.line);
      --budget.left;  // a file may hold thousands of sections
      hit = (!program.empty() && program == s.app) || (!process.empty() && process == s.app);
    }
    if (hit) {
      own = &s.set;
      r.section = s.label;
      break;
    }
  }
  static const RuleSet kNone;
  const RuleSet& all = rules.all;
  const RuleSet& mine = own ? *own : kNone;

  std::u32string aim, body(text);
  if (IsAimId(text)) {
    aim = text.substr(0, kAimLength);
    body = text.substr(kAimLength);
  }
  if (Pick(mine.gs1Parens, all.gs1Parens, false) && IsGs1Symbology(aim)) {
    if (auto human = FormatGs1(body); human && human->size() <= kRuledRecordLimit) body = std::move(*human);
  }
  if (Pick(mine.stripAim, all.stripAim, false)) aim.clear();
  std::u32string out = aim + body;

  for (const auto& skip : mine.skip.empty() ? all.skip : mine.skip) {
    PatternMatch m;
    const MatchResult found = skip.pattern.Search(out, 0, m, budget);
    if (found == MatchResult::kTooCostly) return stop(skip.line);
    if (found == MatchResult::kMatch) {
      r.outcome = RuledRecord::Outcome::kSkip;
      r.ruleLine = skip.line;
      r.changed = out != text;
      r.text = std::move(out);
      r.steps = steps - budget.left;
      return r;
    }
  }
  // Two buffers in turn: a fresh one for each rule would fault in new pages
  // for every line of a long file.
  std::u32string next;
  for (const RuleSet* set : {&all, &mine}) {
    for (const auto& rule : set->replace) {
      if (rule.pattern.ReplaceAll(out, rule.with, next, budget, kRuledRecordLimit) ==
          MatchResult::kTooCostly)
        return stop(rule.line);
      out.swap(next);
    }
  }
  r.repeatMs = Pick(mine.repeatMs, all.repeatMs, 0);

  // Control characters type what the rules say; one they do not name types
  // nothing, but for HT, which is Tab as it always was.
  bool mapped = false;
  r.keys.keys.reserve(out.size());
  for (char32_t ch : out) {
    const auto index = ControlIndex(ch);
    if (!index) {
      r.keys.keys.push_back(ch);
      continue;
    }
    const auto& m = mine.controls[*index] ? mine.controls[*index] : all.controls[*index];
    if (!m) {
      if (ch == kTab) r.keys.keys.push_back(ch);
      continue;
    }
    mapped = true;
    switch (m->kind) {
      case ControlMapping::Kind::kNone: break;
      case ControlMapping::Kind::kText:
        r.keys.keys += m->text;
        break;
      case ControlMapping::Kind::kKey: r.keys.AddToken(m->key); break;
      case ControlMapping::Kind::kChar: r.keys.AddToken(UnicodeToken(ch)); break;
    }
    if (r.keys.keys.size() > kRuledRecordLimit) return stop(m->line);
  }
  r.keys.prefix = mine.prefix ? mine.prefix : all.prefix;
  r.keys.suffix1 = mine.suffix1 ? mine.suffix1 : all.suffix1;
  r.keys.suffix2 = mine.suffix2 ? mine.suffix2 : all.suffix2;
  r.keys.keyMode = Pick(mine.keyMode, all.keyMode, KeyMode::kAuto);
  r.keys.paceMs = Pick(mine.paceMs, all.paceMs, 0);
  r.verify = Pick(mine.verify, all.verify, true);
  r.changed = mapped || out != text;
  r.text = std::move(out);
  r.steps = steps - budget.left;
  return r;
}

}  // namespace tarvik
