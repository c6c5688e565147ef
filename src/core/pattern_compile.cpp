// Parsing and compiling a pattern: the source is parsed into a small tree,
// which is compiled into a flat program for the backtracking matcher. Only
// the parser recurses, and only on the pattern's own groups.
#include <algorithm>
#include <array>
#include <utility>

#include "core/pattern.h"
#include "core/pattern_program.h"

namespace tarvik::pattern_detail {
namespace {

constexpr std::uint32_t kMaxCount = kInfinite - 1;  // larger counts in {n,m} saturate here
// Any pattern worth writing by hand is far shorter; this keeps the tree small.
constexpr std::size_t kMaxPatternSource = 4 * kMaxPatternProgram;

int HexValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

void Normalize(std::vector<Range>& ranges) {
  std::sort(ranges.begin(), ranges.end());
  std::size_t out = 0;
  for (const Range& r : ranges) {
    if (out > 0 &&
        static_cast<std::uint64_t>(r.first) <= std::uint64_t{ranges[out - 1].second} + 1) {
      ranges[out - 1].second = std::max(ranges[out - 1].second, r.second);
    } else {
      ranges[out++] = r;
    }
  }
  ranges.resize(out);
}

// Over every char32_t value, not just Unicode: the text is whatever the caller passes.
std::vector<Range> Complement(std::vector<Range> ranges) {
  Normalize(ranges);
  std::vector<Range> out;
  std::uint64_t next = 0;
  for (const Range& r : ranges) {
    if (r.first > next) out.emplace_back(static_cast<char32_t>(next), r.first - 1);
    next = std::uint64_t{r.second} + 1;
  }
  if (next <= 0xFFFFFFFFu) out.emplace_back(static_cast<char32_t>(next), char32_t{0xFFFFFFFFu});
  return out;
}

constexpr std::u32string_view kClassEscapes = U"dDwWsS";

// \d \w \s and their negations (letters of kClassEscapes), made once: a
// pattern may hold thousands.
const std::vector<Range>& ClassEscape(char32_t letter) {
  static const auto kSets = [] {
    const std::vector<Range> digit = {{'0', '9'}},
                             word = {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}},
                             space = {{'\t', '\r'},     {' ', ' '},       {0xA0, 0xA0},
                                      {0x1680, 0x1680}, {0x2000, 0x200A}, {0x2028, 0x2029},
                                      {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000},
                                      {0xFEFF, 0xFEFF}};
    return std::array<std::vector<Range>, kClassEscapes.size()>{
        digit, Complement(digit), word, Complement(word), space, Complement(space)};
  }();
  return kSets[kClassEscapes.find(letter)];
}

// clang-format off
enum class Kind : std::uint8_t {
  kEmpty, kChar, kAny, kSet, kBol, kEol, kWordB, kNotWordB, kBackref, kGroup, kLook, kSeq, kAlt,
  kRepeat
};
// clang-format on

struct Node {
  Kind kind = Kind::kEmpty;
  bool flag = false;      // kLook: negative; kRepeat: greedy
  bool nullable = true;   // can match the empty string
  std::uint32_t arg = 0;  // character, set index, group number (0: not capturing)
  std::uint32_t min = 0, max = 0;
  std::uint32_t capFirst = 0, capEnd = 0;  // kRepeat: groups [capFirst, capEnd) inside it
  std::vector<int> kids;
};

class Parser {
 public:
  explicit Parser(std::u32string_view s) : s_(s) {}

  int Parse() {
    if (s_.size() > kMaxPatternSource) return Fail("pattern too large");
    totalGroups_ = CountGroups();
    const int root = Disjunction(0);
    if (root >= 0 && i_ < s_.size()) return Fail("unmatched ')'");
    return root;
  }

  std::vector<Node> nodes;
  std::vector<CharSet> sets;
  std::uint32_t groups = 0;
  std::string error;

 private:
  int Fail(const char* why) {
    if (error.empty()) error = why;
    return -1;
  }
  bool Refuse(const char* why) {
    Fail(why);
    return false;
  }
  bool More() const { return i_ < s_.size(); }
  bool Eat(char32_t c) {
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  int Add(Kind kind, std::uint32_t arg = 0, bool nullable = true) {
    Node n;
    n.kind = kind;
    n.arg = arg;
    n.nullable = nullable;
    nodes.push_back(std::move(n));
    return static_cast<int>(nodes.size() - 1);
  }
  int AddList(Kind kind, std::vector<int> kids) {
    if (kids.size() == 1) return kids[0];
    bool nullable = kind == Kind::kSeq;
    for (int k : kids) {
      nullable = kind == Kind::kSeq ? nullable && nodes[k].nullable : nullable || nodes[k].nullable;
    }
    const int n = Add(kids.empty() ? Kind::kEmpty : kind, 0, kids.empty() || nullable);
    nodes[n].kids = std::move(kids);
    return n;
  }
  int AddSet(std::vector<Range> ranges) {
    Normalize(ranges);
    CharSet set;
    for (const Range& r : ranges) {
      for (std::uint32_t c = r.first; c < 128 && c <= r.second; ++c)
        set.ascii[c >> 6] |= std::uint64_t{1} << (c & 63);
      if (r.second >= 128) set.high.emplace_back(std::max<char32_t>(r.first, 128), r.second);
    }
    sets.push_back(std::move(set));
    return Add(Kind::kSet, static_cast<std::uint32_t>(sets.size() - 1), false);
  }

  // Backreferences may point forwards, so the groups are counted first.
  std::uint32_t CountGroups() const {
    std::uint32_t count = 0;
    bool inClass = false;
    for (std::size_t i = 0; i < s_.size(); ++i) {
      if (s_[i] == '\\') {
        ++i;
      } else if (inClass) {
        inClass = s_[i] != ']';
      } else if (s_[i] == '[') {
        inClass = true;
      } else if (s_[i] == '(' && (i + 1 == s_.size() || s_[i + 1] != '?')) {
        ++count;
      }
    }
    return count;
  }

  int Disjunction(int depth) {
    std::vector<int> alternatives;
    do {
      std::vector<int> terms;
      while (More() && s_[i_] != '|' && s_[i_] != ')') {
        const int t = Term(depth);
        if (t < 0) return -1;
        terms.push_back(t);
      }
      alternatives.push_back(AddList(Kind::kSeq, std::move(terms)));
    } while (Eat('|'));
    return AddList(Kind::kAlt, std::move(alternatives));
  }

  // {n}, {n,} or {n,m} with its `{` at `open`; anything else leaves `{` a literal.
  bool Braces(std::size_t open, std::uint32_t& min, std::uint32_t& max) {
    std::size_t j = open + 1;
    auto number = [&](std::uint32_t& v) {
      const std::size_t start = j;
      v = 0;
      for (; j < s_.size() && IsDigit(s_[j]); ++j)
        v = std::min<std::uint64_t>(std::uint64_t{v} * 10 + (s_[j] - '0'), kMaxCount);
      return j > start;
    };
    if (!number(min)) return false;
    max = min;
    if (j < s_.size() && s_[j] == ',') {
      ++j;
      if (!number(max)) max = kInfinite;
    }
    if (j >= s_.size() || s_[j] != '}') return false;
    i_ = j + 1;
    return true;
  }

  int Term(int depth) {
    const std::uint32_t groupsBefore = groups;
    const char32_t c = s_[i_++];
    int atom = -1;
    switch (c) {
      case '^': return Add(Kind::kBol);
      case '$': return Add(Kind::kEol);
      case '*':
      case '+':
      case '?': return Fail("nothing to repeat");
      case '.': atom = Add(Kind::kAny, 0, false); break;
      case '[': atom = Class(); break;
      case '(': atom = Group(depth); break;
      case '\\':
        if (Eat('b')) return Add(Kind::kWordB);
        if (Eat('B')) return Add(Kind::kNotWordB);
        atom = AtomEscape();
        break;
      case '{': {
        std::uint32_t min = 0, max = 0;
        if (Braces(i_ - 1, min, max)) return Fail("nothing to repeat");
        atom = Add(Kind::kChar, c, false);
        break;
      }
      default: atom = Add(Kind::kChar, c, false);
    }
    if (atom < 0) return -1;

    std::uint32_t min = 0, max = kInfinite;
    if (Eat('+')) {
      min = 1;
    } else if (Eat('?')) {
      max = 1;
    } else if (!Eat('*') && !(More() && s_[i_] == '{' && Braces(i_, min, max))) {
      return atom;
    }
    if (min > max) return Fail("numbers out of order in {} quantifier");
    const int rep = Add(Kind::kRepeat, 0, min == 0 || nodes[atom].nullable);
    Node& n = nodes[rep];
    n.flag = !Eat('?');
    n.min = min;
    n.max = max;
    n.capFirst = groupsBefore + 1;
    n.capEnd = groups + 1;
    n.kids = {atom};
    return rep;
  }

  int Group(int depth) {
    if (depth >= kMaxPatternNesting) return Fail("groups nested too deep");
    Kind kind = Kind::kGroup;
    bool negative = false;
    std::uint32_t capture = 0;
    if (Eat('?')) {
      if (Eat('=')) {
        kind = Kind::kLook;
      } else if (Eat('!')) {
        kind = Kind::kLook;
        negative = true;
      } else if (Eat('<')) {
        return Fail(More() && (s_[i_] == '=' || s_[i_] == '!') ? "lookbehind is not supported"
                                                               : "named groups are not supported");
      } else if (!Eat(':')) {
        return Fail("invalid group");
      }
    } else {
      capture = ++groups;
    }
    const int inner = Disjunction(depth + 1);
    if (inner < 0) return -1;
    if (!Eat(')')) return Fail("missing ')'");
    if (kind == Kind::kGroup && capture == 0) return inner;
    const int n = Add(kind, capture, kind == Kind::kLook || nodes[inner].nullable);
    nodes[n].flag = negative;
    nodes[n].kids = {inner};
    return n;
  }

  int AtomEscape() {
    if (!More()) return Fail("\\ at end of pattern");
    const char32_t c = s_[i_];
    if (const auto k = kClassEscapes.find(c); k != kClassEscapes.npos) {
      ++i_;
      // Each use the same set: \S written 20,000 times is one set, not 20,000.
      if (escapeSets_[k] >= 0) return Add(Kind::kSet, static_cast<std::uint32_t>(escapeSets_[k]), false);
      const int n = AddSet(ClassEscape(c));
      escapeSets_[k] = static_cast<int>(nodes[static_cast<std::size_t>(n)].arg);
      return n;
    }
    if (c >= '1' && c <= '9') {
      std::uint32_t group = 0;
      for (; More() && IsDigit(s_[i_]); ++i_)
        group = std::min<std::uint32_t>(group * 10 + (s_[i_] - '0'), 1000);
      if (group > totalGroups_) return Fail("reference to a missing group");
      return Add(Kind::kBackref, group);
    }
    char32_t ch = 0;
    if (!CharEscape(ch)) return -1;
    return Add(Kind::kChar, ch, false);
  }

  // The escapes that stand for one character, the same inside and outside a class.
  bool CharEscape(char32_t& out) {
    const char32_t c = s_[i_++];
    auto hex = [&](std::size_t digits) {
      if (s_.size() - i_ < digits) return false;
      out = 0;
      for (std::size_t k = 0; k < digits; ++k) {
        const int v = HexValue(s_[i_ + k]);
        if (v < 0) return false;
        out = out * 16 + static_cast<char32_t>(v);
      }
      i_ += digits;
      return true;
    };
    switch (c) {
      case 't': out = '\t'; return true;
      case 'n': out = '\n'; return true;
      case 'v': out = '\v'; return true;
      case 'f': out = '\f'; return true;
      case 'r': out = '\r'; return true;
      case '0':
        out = 0;
        return !(More() && IsDigit(s_[i_])) || Refuse("octal escapes are not supported");
      case 'x': return hex(2) || Refuse("invalid \\x escape");
      case 'c':
        if (More() && ((s_[i_] | 0x20) >= 'a' && (s_[i_] | 0x20) <= 'z')) {
          out = s_[i_++] % 32;
          return true;
        }
        return Refuse("invalid \\c escape");
      case 'u':
        // Without flags ECMAScript reads "u{61}" after a backslash as 'u' 61
        // times; only the u flag, which patterns here cannot have, makes it a
        // code point. Either reading would surprise someone: refused.
        if (More() && s_[i_] == '{')
          return Refuse("\\u{...} needs the u flag, and patterns take no flags: write \\uXXXX");
        if (!hex(4)) return Refuse("invalid \\u escape");
        // The text is code points, so a UTF-16 pair written as two escapes is one character.
        if (out >= 0xD800 && out <= 0xDBFF && s_.size() - i_ >= 6 && s_[i_] == '\\' &&
            s_[i_ + 1] == 'u') {
          const std::size_t save = i_;
          const char32_t high = out;
          i_ += 2;
          if (hex(4) && out >= 0xDC00 && out <= 0xDFFF) {
            out = 0x10000 + ((high - 0xD800) << 10) + (out - 0xDC00);
          } else {
            i_ = save;
            out = high;
          }
        }
        return true;
      default:
        if (c < 128 && (IsWord(c) && c != '_')) {
          error = std::string("invalid escape \\") + static_cast<char>(c);
          return false;
        }
        out = c;
        return true;
    }
  }

  int Class() {
    const bool negate = Eat('^');
    std::vector<Range> ranges;
    for (;;) {
      if (!More()) return Fail("missing ']'");
      if (Eat(']')) break;
      std::vector<Range> first, second;
      if (!ClassAtom(first)) return -1;
      if (s_.size() - i_ >= 2 && s_[i_] == '-' && s_[i_ + 1] != ']') {
        ++i_;
        if (!ClassAtom(second)) return -1;
        const bool single = first.size() == 1 && first[0].first == first[0].second &&
                            second.size() == 1 && second[0].first == second[0].second;
        if (single && first[0].first > second[0].first)
          return Fail("range out of order in character class");
        if (single) {
          first[0].second = second[0].first;
        } else {  // [\d-x]: a class escape cannot bound a range, so the '-' is itself
          first.insert(first.end(), second.begin(), second.end());
          first.emplace_back('-', '-');
        }
      }
      ranges.insert(ranges.end(), first.begin(), first.end());
    }
    return AddSet(negate ? Complement(std::move(ranges)) : std::move(ranges));
  }

  // One class member: a set (from \d and the like) or one character as a one-entry set.
  bool ClassAtom(std::vector<Range>& out) {
    char32_t c = s_[i_++];
    if (c == '\\') {
      if (!More()) return Refuse("\\ at end of pattern");
      const char32_t e = s_[i_];
      if (kClassEscapes.find(e) != kClassEscapes.npos) {
        ++i_;
        out = ClassEscape(e);
        return true;
      }
      if (e == 'b' || e == '-') {
        ++i_;
        c = e == 'b' ? 8 : '-';
      } else if (e >= '1' && e <= '9') {
        return Refuse("octal escapes are not supported");
      } else if (!CharEscape(c)) {
        return false;
      }
    }
    out = {{c, c}};
    return true;
  }

  std::u32string_view s_;
  std::size_t i_ = 0;
  std::uint32_t totalGroups_ = 0;
  std::array<int, kClassEscapes.size()> escapeSets_ = {-1, -1, -1, -1, -1, -1};
};

class Compiler {
 public:
  Compiler(const std::vector<Node>& nodes, Compiled& p) : nodes_(nodes), p_(p) {}
  bool tooLarge = false;
  std::uint32_t registers = 0;

  std::uint32_t Push(Op op, std::uint32_t arg = 0, std::uint32_t x = 0, std::uint32_t y = 0) {
    Inst in{op};
    in.arg = arg;
    in.x = x;
    in.y = y;
    p_.code.push_back(in);
    if (p_.code.size() > kMaxPatternProgram) tooLarge = true;
    return static_cast<std::uint32_t>(p_.code.size() - 1);
  }
  std::uint32_t Here() const { return static_cast<std::uint32_t>(p_.code.size()); }

  void Emit(int index) {
    if (tooLarge) return;
    const Node& n = nodes_[index];
    switch (n.kind) {
      case Kind::kEmpty: break;
      case Kind::kChar: Push(Op::kChar, n.arg); break;
      case Kind::kAny: Push(Op::kAny); break;
      case Kind::kSet: Push(Op::kClass, n.arg); break;
      case Kind::kBol: Push(Op::kBol); break;
      case Kind::kEol: Push(Op::kEol); break;
      case Kind::kWordB: Push(Op::kWordB); break;
      case Kind::kNotWordB: Push(Op::kNotWordB); break;
      case Kind::kBackref: Push(Op::kBackref, n.arg); break;
      case Kind::kGroup:
        Push(Op::kSave, 2 * n.arg);
        Emit(n.kids[0]);
        Push(Op::kSave, 2 * n.arg + 1);
        break;
      case Kind::kLook: {
        const std::uint32_t look = Push(Op::kLook);
        Emit(n.kids[0]);
        Push(Op::kLookEnd);
        p_.code[look].negative = n.flag;
        p_.code[look].x = Here();
        break;
      }
      case Kind::kSeq:
        for (int k : n.kids) Emit(k);
        break;
      case Kind::kAlt: {
        std::vector<std::uint32_t> jumps;
        for (std::size_t k = 0; k < n.kids.size() && !tooLarge; ++k) {
          const bool last = k + 1 == n.kids.size();
          const std::uint32_t split = last ? 0 : Push(Op::kSplit, 0, Here() + 1);
          Emit(n.kids[k]);
          if (!last) jumps.push_back(Push(Op::kJmp));
          if (!last) p_.code[split].y = Here();
        }
        for (std::uint32_t j : jumps) p_.code[j].x = Here();
        break;
      }
      case Kind::kRepeat: Repeat(index); break;
    }
  }

 private:
  void Repeat(int index) {
    const Node& n = nodes_[index];
    const Node& kid = nodes_[n.kids[0]];
    if (kid.kind == Kind::kChar || kid.kind == Kind::kAny || kid.kind == Kind::kSet) {
      const std::uint32_t star = Push(n.flag ? Op::kStar : Op::kStarLazy, kid.arg, n.min, n.max);
      p_.code[star].unit = kid.kind == Kind::kChar  ? Op::kChar
                           : kid.kind == Kind::kAny ? Op::kAny
                                                    : Op::kClass;
      return;
    }
    // Past the minimum, an iteration that matches empty fails (so `(a*)*`
    // ends); a register remembers where the iteration began. Copies of this
    // loop made by an enclosing count run one after another and can share it.
    std::uint32_t reg = kInfinite;
    if (kid.nullable) {
      if (regs_.size() <= static_cast<std::size_t>(index)) regs_.resize(nodes_.size(), kInfinite);
      if (regs_[index] == kInfinite) regs_[index] = registers++;
      reg = regs_[index];
    }
    auto iteration = [&](bool checked) {
      if (checked && reg != kInfinite) Push(Op::kMark, reg);
      if (n.capEnd > n.capFirst) Push(Op::kReset, 0, 2 * n.capFirst, 2 * n.capEnd);
      Emit(n.kids[0]);
      if (checked && reg != kInfinite) Push(Op::kCheck, reg);
    };
    for (std::uint32_t k = 0; k < n.min && !tooLarge; ++k) {
      const std::uint32_t before = Here();
      iteration(false);
      if (Here() == before) break;  // `(?:){1000000}` emits nothing however often
    }
    std::vector<std::uint32_t> splits;
    if (n.max == kInfinite) {
      const std::uint32_t top = Push(Op::kSplit);
      splits.push_back(top);
      iteration(true);
      Push(Op::kJmp, 0, top);
    } else {
      for (std::uint32_t k = n.min; k < n.max && !tooLarge; ++k) {
        splits.push_back(Push(Op::kSplit));
        iteration(true);
      }
    }
    for (std::uint32_t s : splits) {
      p_.code[s].x = n.flag ? s + 1 : Here();
      p_.code[s].y = n.flag ? Here() : s + 1;
    }
  }

  const std::vector<Node>& nodes_;
  Compiled& p_;
  std::vector<std::uint32_t> regs_;
};

// The instructions the compiler emits for the node (see Compiler::Emit),
// counted before any is emitted so that a pattern too large costs no more
// than reading it; past `limit` the count stops there.
std::uint64_t ProgramSize(const std::vector<Node>& nodes, int index, std::uint64_t limit) {
  const Node& n = nodes[static_cast<std::size_t>(index)];
  std::uint64_t size = 0;
  switch (n.kind) {
    case Kind::kEmpty: return 0;
    case Kind::kGroup:
    case Kind::kLook: size = 2 + ProgramSize(nodes, n.kids[0], limit); break;
    case Kind::kSeq:
    case Kind::kAlt:
      size = n.kind == Kind::kAlt ? 2 * (n.kids.size() - 1) : 0;
      for (int kid : n.kids) size = std::min(limit, size + ProgramSize(nodes, kid, limit));
      break;
    case Kind::kRepeat: {
      const Node& kid = nodes[static_cast<std::size_t>(n.kids[0])];
      if (kid.kind == Kind::kChar || kid.kind == Kind::kAny || kid.kind == Kind::kSet) return 1;
      const std::uint64_t body = ProgramSize(nodes, n.kids[0], limit) + (n.capEnd > n.capFirst ? 1 : 0);
      const std::uint64_t checked = body + (kid.nullable ? 2 : 0);  // kMark, kCheck
      size = std::min(limit, std::uint64_t{n.min} * body);
      // Past the minimum: a kSplit for each optional iteration, or one kSplit and one kJmp.
      size += n.max == kInfinite ? 2 + checked
                                 : std::min(limit, (std::uint64_t{n.max} - n.min) * (1 + checked));
      break;
    }
    default: return 1;
  }
  return std::min(limit, size);
}

// A literal that every match of the node contains: in a sequence, any part's;
// in a group or a repeat taken at least once, its body's.
std::optional<char32_t> RequiredChar(const std::vector<Node>& nodes, int index) {
  const Node& n = nodes[static_cast<std::size_t>(index)];
  switch (n.kind) {
    case Kind::kChar: return static_cast<char32_t>(n.arg);
    case Kind::kGroup: return RequiredChar(nodes, n.kids.front());
    case Kind::kRepeat:
      if (n.min == 0) return std::nullopt;
      return RequiredChar(nodes, n.kids.front());
    case Kind::kSeq:
      for (int kid : n.kids)
        if (const auto c = RequiredChar(nodes, kid)) return c;
      return std::nullopt;
    default: return std::nullopt;
  }
}

// Follows every path from the start up to its first character test.
void ComputeStartFilter(Compiled& p) {
  bool sawEol = false;
  std::vector<bool> seen(p.code.size(), false);
  std::vector<std::uint32_t> work{0};
  auto addTest = [&](std::uint32_t pc) {
    const Inst& in = p.code[pc];
    const Op unit = in.op == Op::kStar || in.op == Op::kStarLazy ? in.unit : in.op;
    for (char32_t c = 0; c < 128; ++c) {
      if (p.Unit(unit, in.arg, c)) p.startAscii[c >> 6] |= std::uint64_t{1} << (c & 63);
    }
    if ((unit == Op::kChar && in.arg >= 128) || unit == Op::kAny ||
        (unit == Op::kClass && !p.sets[in.arg].high.empty())) {
      p.startTests.push_back(pc);
    }
  };
  while (!work.empty() && !p.anyStart) {
    const std::uint32_t pc = work.back();
    work.pop_back();
    if (seen[pc]) continue;
    seen[pc] = true;
    const Inst& in = p.code[pc];
    switch (in.op) {
      case Op::kChar:
      case Op::kAny:
      case Op::kClass: addTest(pc); break;
      case Op::kStar:
      case Op::kStarLazy:
        addTest(pc);
        if (in.x == 0) work.push_back(pc + 1);
        break;
      case Op::kSplit:
        work.push_back(in.y);
        work.push_back(in.x);
        break;
      case Op::kJmp:
      case Op::kLook: work.push_back(in.x); break;
      case Op::kBol: break;  // this path matches at position 0 only
      case Op::kEol: sawEol = true; break;
      case Op::kBackref:
      case Op::kLookEnd:
      case Op::kMatch: p.anyStart = true; break;
      default: work.push_back(pc + 1);
    }
  }
  // Testing many instructions per character would cost more than a step is worth.
  p.anyHighStart = p.startTests.size() > 8;
  p.canMatchAtEnd = p.anyStart || sawEol;
  p.anchored = !p.anyStart && !sawEol && p.startTests.empty() && p.startAscii[0] == 0 &&
               p.startAscii[1] == 0;
  const Inst& first = p.code[1];
  p.leadingStar = (first.op == Op::kStar || first.op == Op::kStarLazy) && first.y == kInfinite;
}

}  // namespace

bool CompileProgram(std::u32string_view source, Compiled& program, std::string& error,
                    std::size_t& built) {
  Parser parser(source);
  const int root = parser.Parse();
  built += parser.nodes.capacity() * sizeof(Node) + parser.sets.capacity() * sizeof(CharSet);
  for (const CharSet& set : parser.sets) built += set.high.capacity() * sizeof(Range);
  if (root < 0) {
    error = parser.error;
    return false;
  }
  // The save of the whole match before, its end and kMatch after.
  constexpr std::uint64_t kFrame = 3;
  const std::uint64_t size = kFrame + ProgramSize(parser.nodes, root, kMaxPatternProgram);
  if (size > kMaxPatternProgram) {
    error = "pattern too large";
    return false;
  }
  program.code.reserve(size);
  program.sets = std::move(parser.sets);
  program.sets.shrink_to_fit();
  program.groups = parser.groups;
  Compiler compiler(parser.nodes, program);
  compiler.Push(Op::kSave, 0);
  compiler.Emit(root);
  compiler.Push(Op::kSave, 1);
  compiler.Push(Op::kMatch);
  if (compiler.tooLarge) {
    error = "pattern too large";
    return false;
  }
  program.slots = 2 * (program.groups + 1) + compiler.registers;
  ComputeStartFilter(program);
  program.required = RequiredChar(parser.nodes, root);
  return true;
}

}  // namespace tarvik::pattern_detail
