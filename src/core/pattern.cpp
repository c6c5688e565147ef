#include "core/pattern.h"

#include "core/pattern_program.h"

// The matcher keeps its choice points and an undo log of capture writes on
// one heap vector, so a long record costs memory and steps but never stack
// depth; only lookahead runs a nested match, and that nests no deeper than
// the pattern's own groups. The vector is capped (kMaxBacktrackEntries): a
// step may push many entries (a loop over nested groups writes each), so
// the step budget alone would let one record hold some 100 MB.

namespace tarvik {
namespace {

using namespace pattern_detail;

enum class Run { kYes, kNo, kOut };
// Looking for the required character costs a step per this many characters;
// clearing or copying capture slots, per this many slots; copying the text
// into a replacement's result, per this many characters (a rule that does
// not match still copies the whole record). A lookahead that matched goes
// over the entries its body left, a step each: every enclosing lookahead
// goes over them again.
constexpr std::size_t kRequiredScan = 64, kSlotsPerStep = 16, kCopiedPerStep = 16;
enum FrameKind : std::uint32_t { kUndo, kBranch, kGreedyStar, kLazyStar };

// One entry of the backtracking stack. kUndo: slot `pc` held `a`. kBranch:
// resume at pc, position a. kGreedyStar: resume at pc giving back one more
// character from a, not below b. kLazyStar: star at pc, taken up to a, may
// take more up to b.
struct Frame {
  std::uint32_t kind, pc;
  std::size_t a, b;
};

class Matcher {
 public:
  Matcher(const Compiled& p, std::u32string_view text) : p_(p), text_(text) {}

  MatchResult Search(std::size_t from, PatternMatch& match, PatternBudget& budget) {
    left_ = budget.left;
    const MatchResult r = SearchSteps(from, match);
    budget.left = left_;
    return r;
  }

 private:
  std::optional<std::size_t> lastRequired_;  // see SearchSteps

  bool Spend() {
    if (left_ == 0) return false;
    --left_;
    return true;
  }
  bool Spend(std::size_t steps) {
    if (left_ < steps) {
      left_ = 0;
      return false;
    }
    left_ -= steps;
    return true;
  }
  bool Push(const Frame& f) {
    if (stack_.size() >= kMaxBacktrackEntries) return false;
    stack_.push_back(f);
    return true;
  }

  MatchResult SearchSteps(std::size_t from, PatternMatch& match) {
    const std::size_t n = text_.size();
    if (from > n || (p_.anchored && from > 0)) return MatchResult::kNoMatch;
    // Where the required character last stands, found once per text (one
    // step for every kRequiredScan characters looked at).
    if (p_.required && !p_.anchored && !lastRequired_) {
      std::size_t i = n;
      while (i > 0 && text_[i - 1] != *p_.required) --i;
      lastRequired_ = i;  // one past it; 0: nowhere
      for (std::size_t k = 0; k <= (n - i) / kRequiredScan; ++k)
        if (!Spend()) return MatchResult::kTooCostly;
    }
    const std::size_t lastStart = lastRequired_ ? (*lastRequired_ == 0 ? 0 : *lastRequired_ - 1) : n;
    if (lastRequired_ && *lastRequired_ == 0) return MatchResult::kNoMatch;
    // Clearing and reporting the groups is work too: a pattern of thousands
    // of groups that matches everywhere must not run free of the budget.
    for (std::size_t k = 0; k < p_.slots / kSlotsPerStep; ++k)
      if (!Spend()) return MatchResult::kTooCostly;
    // A failed attempt undoes all its writes, so the slots start clear at every position.
    slots_.assign(p_.slots, kUnset);
    stack_.clear();
    for (std::size_t at = from; at <= lastStart; ++at) {
      if (!Spend()) return MatchResult::kTooCostly;
      if (at > 0) {
        if (p_.anchored) break;
        if (at < n ? !p_.CanStartWith(text_[at]) : !p_.canMatchAtEnd) continue;
      }
      const Run r = Exec(0, at);
      if (r == Run::kOut) return MatchResult::kTooCostly;
      if (r == Run::kYes) {
        match.groups.resize(p_.groups + 1);
        for (std::size_t g = 0; g <= p_.groups; ++g) {
          const std::size_t b = slots_[2 * g], e = slots_[2 * g + 1];
          const bool set = b != kUnset && e != kUnset && b <= e;
          match.groups[g] = {set ? b : kUnset, set ? e : kUnset};
        }
        return MatchResult::kMatch;
      }
      // `.*x` failed here: from the next position its star reaches no end it
      // could not reach from here, so skip while the star could have eaten the character.
      if (p_.leadingStar) {
        const Inst& star = p_.code[1];
        while (at < n && p_.Unit(star.unit, star.arg, text_[at])) {
          if (!Spend()) return MatchResult::kTooCostly;
          ++at;
        }
      }
    }
    return MatchResult::kNoMatch;
  }

  bool Set(std::size_t slot, std::size_t value) {
    if (!Push({kUndo, static_cast<std::uint32_t>(slot), slots_[slot], 0})) return false;
    slots_[slot] = value;
    return true;
  }

  // Pops to the latest choice point above `base`, undoing capture writes on the way.
  bool Backtrack(std::uint32_t& pc, std::size_t& pos, std::size_t base) {
    while (stack_.size() > base) {
      Frame& f = stack_.back();
      switch (f.kind) {
        case kUndo: slots_[f.pc] = f.a; break;
        case kBranch:
          pc = f.pc;
          pos = f.a;
          stack_.pop_back();
          return true;
        case kGreedyStar:
          pc = f.pc;
          pos = --f.a;
          if (f.a == f.b) stack_.pop_back();
          return true;
        default: {
          const Inst& in = p_.code[f.pc];
          if (f.a < f.b && p_.Unit(in.unit, in.arg, text_[f.a])) {
            pc = f.pc + 1;
            pos = ++f.a;
            if (f.a == f.b) stack_.pop_back();
            return true;
          }
        }
      }
      stack_.pop_back();
    }
    return false;
  }

  Run Exec(std::uint32_t pc, std::size_t pos) {
    const std::size_t base = stack_.size();
    const Inst* code = p_.code.data();
    const char32_t* s = text_.data();
    const std::size_t n = text_.size();
    for (;;) {
      if (!Spend()) return Run::kOut;
      const Inst& in = code[pc];
      bool ok = true;
      switch (in.op) {
        case Op::kChar:
          ok = pos < n && s[pos++] == in.arg;
          ++pc;
          break;
        case Op::kAny:
          ok = pos < n && !IsLineEnd(s[pos++]);
          ++pc;
          break;
        case Op::kClass:
          ok = pos < n && p_.sets[in.arg].Has(s[pos++]);
          ++pc;
          break;
        case Op::kStar: {
          const std::size_t start = pos, limit = in.y >= n - pos ? n : pos + in.y;
          for (; pos < limit && p_.Unit(in.unit, in.arg, s[pos]); ++pos) {
            if (!Spend()) return Run::kOut;
          }
          ok = pos - start >= in.x;
          if (ok && pos - start > in.x && !Push({kGreedyStar, pc + 1, pos, start + in.x})) return Run::kOut;
          ++pc;
          break;
        }
        case Op::kStarLazy: {
          const std::size_t limit = in.y >= n - pos ? n : pos + in.y;
          for (std::uint32_t k = 0; ok && k < in.x; ++k, ++pos) {
            if (!Spend()) return Run::kOut;
            ok = pos < n && p_.Unit(in.unit, in.arg, s[pos]);
          }
          if (ok && pos < limit && !Push({kLazyStar, pc, pos, limit})) return Run::kOut;
          ++pc;
          break;
        }
        case Op::kSplit:
          if (!Push({kBranch, in.y, pos, 0})) return Run::kOut;
          pc = in.x;
          break;
        case Op::kJmp: pc = in.x; break;
        case Op::kSave:
          if (!Set(in.arg, pos)) return Run::kOut;
          ++pc;
          break;
        case Op::kReset:
          // A step per slot: one loop may hold very many groups.
          if (!Spend(in.y - in.x)) return Run::kOut;
          for (std::uint32_t slot = in.x; slot < in.y; ++slot) {
            if (slots_[slot] != kUnset && !Set(slot, kUnset)) return Run::kOut;
          }
          ++pc;
          break;
        case Op::kMark:
          if (!Set(2 * (p_.groups + 1) + in.arg, pos)) return Run::kOut;
          ++pc;
          break;
        case Op::kCheck:
          ok = slots_[2 * (p_.groups + 1) + in.arg] != pos;
          ++pc;
          break;
        case Op::kBol:
          ok = pos == 0;
          ++pc;
          break;
        case Op::kEol:
          ok = pos == n;
          ++pc;
          break;
        case Op::kWordB:
        case Op::kNotWordB: {
          const bool edge = (pos > 0 && IsWord(s[pos - 1])) != (pos < n && IsWord(s[pos]));
          ok = edge == (in.op == Op::kWordB);
          ++pc;
          break;
        }
        case Op::kBackref: {
          const std::size_t b = slots_[2 * in.arg], e = slots_[2 * in.arg + 1];
          ++pc;
          if (b == kUnset || e == kUnset || e < b) break;  // an unset group matches empty
          const std::size_t len = e - b;
          if (!Spend(len)) return Run::kOut;  // comparing costs a step per character
          ok = len <= n - pos && std::equal(s + b, s + e, s + pos);
          pos += len;
          break;
        }
        case Op::kLook: {
          // Nested only as deep as lookaheads nest in the pattern. The body
          // is atomic: once it matched, its choice points go, its capture
          // writes stay (with their undo entries, for when we backtrack past).
          const std::size_t mark = stack_.size();
          const Run r = Exec(pc + 1, pos);
          if (r == Run::kOut) return r;
          if (in.negative && r == Run::kYes) {
            for (; stack_.size() > mark; stack_.pop_back()) {
              if (stack_.back().kind == kUndo) slots_[stack_.back().pc] = stack_.back().a;
            }
          } else if (r == Run::kYes) {
            if (!Spend(stack_.size() - mark)) return Run::kOut;
            std::size_t kept = mark;
            for (std::size_t k = mark; k < stack_.size(); ++k) {
              if (stack_[k].kind == kUndo) stack_[kept++] = stack_[k];
            }
            stack_.resize(kept);
          }
          ok = (r == Run::kYes) != in.negative;
          pc = in.x;
          break;
        }
        case Op::kLookEnd:
        case Op::kMatch: return Run::kYes;
      }
      if (!ok && !Backtrack(pc, pos, base)) return Run::kNo;
    }
  }

  const Compiled& p_;
  std::u32string_view text_;
  std::uint64_t left_ = 0;
  std::vector<std::size_t> slots_;
  std::vector<Frame> stack_;
};

}  // namespace

struct Pattern::Program : pattern_detail::Compiled {};

std::optional<Pattern> Pattern::Compile(std::u32string_view source, std::string& error) {
  std::size_t built = 0;
  return Compile(source, error, built);
}

std::optional<Pattern> Pattern::Compile(std::u32string_view source, std::string& error,
                                        std::size_t& built) {
  auto p = std::make_unique<Program>();
  if (!CompileProgram(source, *p, error, built)) return std::nullopt;
  Pattern pattern(std::move(p));
  built += pattern.Footprint();
  return pattern;
}

MatchResult Pattern::Search(std::u32string_view text, std::size_t from, PatternMatch& match,
                            PatternBudget& budget) const {
  if (!p_) return MatchResult::kNoMatch;
  Matcher matcher(*p_, text);
  return matcher.Search(from, match, budget);
}

MatchResult Pattern::ReplaceAll(std::u32string_view text, std::u32string_view replacement,
                                std::u32string& out, PatternBudget& budget,
                                std::size_t maxOut) const {
  out.clear();
  if (!p_) return MatchResult::kNoMatch;
  Matcher matcher(*p_, text);
  PatternMatch m;
  auto append = [&](std::u32string_view piece) {
    const std::size_t steps = (piece.size() + kCopiedPerStep - 1) / kCopiedPerStep;
    if (piece.size() > maxOut - out.size() || budget.left < steps) return false;
    budget.left -= steps;
    out.append(piece);
    return true;
  };
  bool any = false;
  std::size_t copied = 0, from = 0;
  while (from <= text.size()) {
    const MatchResult r = matcher.Search(from, m, budget);
    if (r == MatchResult::kTooCostly) return r;
    if (r == MatchResult::kNoMatch) break;
    any = true;
    // Each character of the replacement is looked at for every match.
    if (budget.left < replacement.size()) return MatchResult::kTooCostly;
    budget.left -= replacement.size();
    const PatternMatch::Span whole = m.groups[0];
    if (!append(text.substr(copied, whole.begin - copied))) return MatchResult::kTooCostly;
    for (std::size_t i = 0; i < replacement.size(); ++i) {
      std::u32string_view piece = replacement.substr(i, 1);
      if (replacement[i] == '$' && i + 1 < replacement.size()) {
        const char32_t c = replacement[i + 1];
        const std::size_t g = c == '&' ? 0 : IsDigit(c) ? c - '0' : kUnset;
        if (c == '$') {
          ++i;
        } else if (g <= p_->groups && (c == '&' || g > 0)) {
          ++i;
          const PatternMatch::Span span = m.groups[g];
          piece = span.matched() ? text.substr(span.begin, span.end - span.begin)
                                 : std::u32string_view();
        }
      }
      if (!append(piece)) return MatchResult::kTooCostly;
    }
    copied = whole.end;
    // After an empty match the next search starts one character on; the
    // character passed over is copied with the next gap.
    from = whole.end + (whole.begin == whole.end ? 1 : 0);
  }
  if (!append(text.substr(copied))) return MatchResult::kTooCostly;
  return any ? MatchResult::kMatch : MatchResult::kNoMatch;
}

std::size_t Pattern::GroupCount() const { return p_ ? p_->groups : 0; }

std::size_t Pattern::Footprint() const {
  if (!p_) return 0;
  std::size_t bytes = sizeof(Program) + p_->code.capacity() * sizeof(Inst) +
                      p_->sets.capacity() * sizeof(CharSet) +
                      p_->startTests.capacity() * sizeof(std::uint32_t);
  for (const CharSet& set : p_->sets) bytes += set.high.capacity() * sizeof(Range);
  return bytes;
}

Pattern::Pattern(std::unique_ptr<Program> program) : p_(std::move(program)) {}
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;
Pattern::Pattern(const Pattern& other)
    : p_(other.p_ ? std::make_unique<Program>(*other.p_) : nullptr) {}
Pattern& Pattern::operator=(const Pattern& other) {
  if (this != &other) p_ = other.p_ ? std::make_unique<Program>(*other.p_) : nullptr;
  return *this;
}
Pattern::~Pattern() = default;

}  // namespace tarvik
