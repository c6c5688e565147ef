// Regular expressions in ECMAScript syntax over code points, for the rules
// file. Reader data is untrusted and patterns are typed by hand, so every
// match runs against a budget of steps: a pattern that would backtrack for
// ever on some record stops with kTooCostly instead of hanging the program,
// and the cost is the same on every platform (steps, not wall-clock time).
// No recursion depends on the text, so no record can exhaust the stack.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// Work allowed for one use of a rule on one record. A step is one
// instruction of the matcher, one start position tried, or a share of the
// bookkeeping around them: text scanned or copied, capture slots cleared,
// entries a lookahead keeps (the rates are in core/pattern.cpp).
inline constexpr std::uint64_t kPatternStepBudget = 1'000'000;
// A pattern that compiles to more instructions than this is refused
// (counted repetitions are expanded: "(a{1000}){1000}" would be a million).
inline constexpr std::size_t kMaxPatternProgram = 20'000;
// Groups nested deeper than this are refused: the parser recurses on them.
inline constexpr int kMaxPatternNesting = 64;
// Choice points and capture writes the matcher may hold at once, 24 bytes
// each: a match that would need more stops with kTooCostly. 6 MB, 9 MB while
// the vector moves to its last size. A loop over a capture group, as
// "^(?:(a))*$", holds about five a character: it follows some 50,000.
inline constexpr std::size_t kMaxBacktrackEntries = std::size_t{1} << 18;

struct PatternBudget {
  std::uint64_t left = kPatternStepBudget;
};

enum class MatchResult { kMatch, kNoMatch, kTooCostly };

struct PatternMatch {
  // groups[0] is the whole match, groups[n] the n-th capture group; a group
  // that took part in no match has begin == npos.
  struct Span {
    std::size_t begin = std::u32string_view::npos, end = std::u32string_view::npos;
    bool matched() const { return begin != std::u32string_view::npos; }
  };
  std::vector<Span> groups;
};

class Pattern {
 public:
  // Nothing, with `error` set to a short reason ("unmatched ')'", "pattern
  // too large" ...), when `source` is no pattern this engine accepts.
  static std::optional<Pattern> Compile(std::u32string_view source, std::string& error);
  // The same, adding to `built` the bytes reading the pattern built, whether
  // it was kept or refused: what a file of many patterns costs to read.
  static std::optional<Pattern> Compile(std::u32string_view source, std::string& error,
                                        std::size_t& built);

  // The leftmost match starting at or after `from`, as ECMAScript's exec
  // finds it (alternatives in order, greedy and lazy quantifiers).
  MatchResult Search(std::u32string_view text, std::size_t from, PatternMatch& match,
                     PatternBudget& budget) const;

  // Every non-overlapping match replaced by `replacement`, in which $1..$9
  // stand for groups (empty if unmatched), $& for the match and $$ for "$";
  // any other "$" is itself. After an empty match the next search starts one
  // character further on. kTooCostly, with `out` unspecified, when the
  // budget runs out or `out` would grow past `maxOut` characters.
  MatchResult ReplaceAll(std::u32string_view text, std::u32string_view replacement,
                         std::u32string& out, PatternBudget& budget, std::size_t maxOut) const;

  std::size_t GroupCount() const;  // capture groups, not counting the whole match
  // Bytes the compiled pattern holds: what a file of many patterns costs.
  std::size_t Footprint() const;

  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;
  Pattern(const Pattern&);
  Pattern& operator=(const Pattern&);
  ~Pattern();

 private:
  struct Program;
  explicit Pattern(std::unique_ptr<Program> program);
  std::unique_ptr<Program> p_;
};

}  // namespace tarvik
