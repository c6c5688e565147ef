// The rules file, tarvik.ini, beside pelrin.ini: how the reader ends its
// lines, what control characters type, AIM identifiers and GS1 data, records
// skipped, changed or typed once, and keys per application. Written by hand,
// so a line that cannot be used is skipped with its number and the reason,
// and the rest applies. No file, or one without rules, changes nothing.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pattern.h"
#include "keys/keystroke_output.h"

namespace tarvik {

inline constexpr char kRulesFileName[] = "tarvik.ini";
// A larger file is not read: no one writes that many rules by hand.
inline constexpr std::size_t kRulesFileLimit = 1024 * 1024;
// What reading a file's rules may build, in bytes: patterns parsed and
// compiled (refused ones too), sections, texts, reasons for bad lines. A
// counted repeat or a short section line costs thousands of times its
// length, so the file's size alone bounds neither the memory nor the time to
// read it. A file past this is refused whole; the rules before stay.
inline constexpr std::size_t kRulesCompiledLimit = 16 * 1024 * 1024;
// Work allowed for all the patterns of one record together: a record costs
// at most this many matcher steps, whatever the file and the reader send.
inline constexpr std::uint64_t kRecordStepBudget = 4 * kPatternStepBudget;
// A record the rules make longer than this stops: a replacement that
// doubles the record on every rule would otherwise fill memory.
inline constexpr std::size_t kRuledRecordLimit = 64 * 1024;
// The longest repeat_ms: an hour.
inline constexpr int kMaxRepeatMs = 3'600'000;
// The longest pace between keys a section may ask for: the delay list's own longest.
inline constexpr int kMaxPaceRuleMs = 200;

enum class LineMode {
  kClassic,  // a line ends at LF; the character before it and the record's last are not typed
  kPlain,    // a line ends at CR, LF or CR LF; all of it is typed
};

// Control characters by their ASCII names: 0x00-0x1F, then DEL (0x7F).
inline constexpr std::size_t kControlCount = 33;
inline constexpr char32_t kDelete = 0x7F;
std::optional<std::size_t> ControlIndex(char32_t ch);

// What a control character in a record types.
struct ControlMapping {
  enum class Kind {
    kNone,  // nothing
    kText,  // these characters, typed like the record's
    kKey,   // one key of the option lists, e.g. {F8}
    kChar,  // the character itself, as a Unicode character
  };
  Kind kind = Kind::kNone;
  std::u32string text;
  std::string key;
  int line = 0;
};

// The settings of one section; what a section leaves unset comes from [all],
// and what [all] leaves unset is the program's own behaviour.
struct RuleSet {
  struct Skip {
    Pattern pattern;
    int line;
  };
  struct Replace {
    Pattern pattern;
    std::u32string with;
    int line;
  };
  std::array<std::optional<ControlMapping>, kControlCount> controls;
  std::optional<bool> stripAim;
  std::optional<bool> gs1Parens;
  std::vector<Skip> skip;  // any one that matches skips
  std::vector<Replace> replace;  // a section's run after [all]'s
  std::optional<int> repeatMs;
  std::optional<KeyRun> prefix, suffix1, suffix2;  // a run with no token: none
  std::optional<KeyMode> keyMode;
  std::optional<int> paceMs;   // the least gap after each key
  std::optional<bool> verify;  // whether what arrived is read back

  bool Empty() const;
};

struct RuleSection {
  std::string label;  // as the file names it, "[app excel.exe]", for the log
  int line = 0;
  std::string app;                // lower case; empty for a title section
  std::optional<Pattern> title;   // for a title section
  RuleSet set;
};

struct RulesProblem {
  int line;
  std::string why;
};

struct Rules {
  LineMode lines = LineMode::kClassic;
  RuleSet all;
  std::vector<RuleSection> sections;  // [app] and [title], in file order
  std::vector<RulesProblem> problems;
  // The file was not taken: the line where it passed kRulesCompiledLimit.
  // Nothing else is set then.
  std::optional<RulesProblem> refused;

  // Nothing here changes how records are cut or typed.
  bool Empty() const { return lines == LineMode::kClassic && all.Empty() && sections.empty(); }
};

// The file's bytes: UTF-8 with or without a BOM, CR LF or LF lines.
Rules ParseRules(std::string_view bytes);

// The window that would take the keys.
struct FocusedWindow {
  std::string program;  // its program's file name
  std::string title;
  std::string processName;  // Linux: the name the process gives itself, also matched
};

// What the rules make of one record.
struct RuledRecord {
  enum class Outcome {
    kType,
    kSkip,     // a skip pattern matched: shown and answered, not typed
    kStopped,  // a rule could not finish on it: not typed, not answered
  };
  Outcome outcome = Outcome::kType;
  std::string section;  // "[all]" or the label of the section that applied
  bool changed = false;
  int ruleLine = 0;     // kSkip and kStopped: the rule's line
  std::u32string text;  // after the rules, before control characters are mapped
  TypedRecord keys;
  int repeatMs = 0;
  bool verify = true;  // what arrives is read back, where the field can be read
  std::uint64_t steps = 0;  // matcher steps the record cost
};

// One record through the rules, in their order: AIM identifier, GS1, skip,
// replace, control characters. The repeat check is the caller's: it knows
// what was typed when.
// `steps` is the work allowed; the fuzz target allows less, to try more.
RuledRecord ApplyRules(const Rules& rules, std::u32string_view text, const FocusedWindow& window,
                       std::uint64_t steps = kRecordStepBudget);

// The commented file the program writes when the user asks to edit rules and
// there is none yet; it holds no rule, so it changes nothing.
std::string RulesTemplate(std::string_view lineEnd);

}  // namespace tarvik
