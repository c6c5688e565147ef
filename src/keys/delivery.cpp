#include "keys/delivery.h"

#include <algorithm>
#include <vector>

#include "core/event_pump.h"
#include "keys/keystroke_output.h"

namespace tarvik {

namespace {

// Past this many cells the alignment of what was sent with what arrived
// costs more than a record should: the log then gets the two lengths only.
constexpr std::size_t kAlignCellLimit = 4u << 20;
// The first look after the last key comes at once. While the field fills,
// the next look comes when it should be full, within these bounds; while it
// does not change, the waits double from the first up to kFieldPollIdle.
constexpr std::chrono::milliseconds kFieldPollFirst{1}, kFieldPollMax{250}, kFieldPollIdle{2};
constexpr char32_t kFirstPrintable = 0x20, kDelete = 0x7F, kLastC1 = 0x9F;

// Upper and lower case where a field's own casing or a wrong Shift could
// swap them: ASCII, Latin-1, Greek and Cyrillic basics.
struct CaseRange {
  char32_t lowerFirst, lowerLast, upperFirst;
};
constexpr CaseRange kCaseRanges[] = {
    {U'a', U'z', U'A'}, {0xE0, 0xF6, 0xC0}, {0xF8, 0xFE, 0xD8},
    {0x3B1, 0x3C1, 0x391}, {0x3C3, 0x3C9, 0x3A3}, {0x430, 0x44F, 0x410}, {0x450, 0x45F, 0x400},
};

char32_t Upper(char32_t c) {
  for (const auto& r : kCaseRanges)
    if (c >= r.lowerFirst && c <= r.lowerLast) return r.upperFirst + (c - r.lowerFirst);
  return c;
}

char32_t Lower(char32_t c) {
  for (const auto& r : kCaseRanges)
    if (c >= r.upperFirst && c <= r.upperFirst + (r.lowerLast - r.lowerFirst)) return r.lowerFirst + (c - r.upperFirst);
  return c;
}

std::u32string Cased(std::u32string_view text, FieldCase casing) {
  std::u32string out(text);
  if (casing != FieldCase::kAsTyped)
    for (char32_t& c : out) c = casing == FieldCase::kUpper ? Upper(c) : Lower(c);
  return out;
}

// An edit script's counts, cheapest first; ties go to the one that blames
// fewer characters as lost.
struct Edits {
  std::size_t cost = 0, lost = 0, extra = 0, wrongCase = 0, wrongCharacter = 0;
  Edits Plus(std::size_t Edits::*field) const {
    Edits e = *this;
    ++e.cost;
    ++(e.*field);
    return e;
  }
  bool operator<(const Edits& o) const { return cost != o.cost ? cost < o.cost : lost < o.lost; }
};

// What turns `sent` into `arrived`, counted, in two rows of the usual table.
Edits Align(std::u32string_view sent, std::u32string_view arrived) {
  std::vector<Edits> row(arrived.size() + 1), next(arrived.size() + 1);
  for (std::size_t j = 1; j <= arrived.size(); ++j) row[j] = row[j - 1].Plus(&Edits::extra);
  for (std::size_t i = 1; i <= sent.size(); ++i) {
    next[0] = row[0].Plus(&Edits::lost);
    for (std::size_t j = 1; j <= arrived.size(); ++j) {
      const char32_t s = sent[i - 1], a = arrived[j - 1];
      Edits best = s == a ? row[j - 1]
                          : row[j - 1].Plus(Upper(s) == Upper(a) ? &Edits::wrongCase : &Edits::wrongCharacter);
      best = std::min({best, row[j].Plus(&Edits::lost), next[j - 1].Plus(&Edits::extra)});
      next[j] = best;
    }
    row.swap(next);
  }
  return row.back();
}

}  // namespace

std::optional<std::u32string> InsertedText(const TypedRecord& record, bool hasPrefix) {
  if (hasPrefix) return std::nullopt;
  for (char32_t k : record.keys)
    if (k >= kTokenKey || k < kFirstPrintable || (k >= kDelete && k <= kLastC1)) return std::nullopt;
  return record.keys;
}

DeliveryVerdict CompareField(const FieldText& before, std::u32string_view sentAsTyped, const FieldText& after) {
  DeliveryVerdict v;
  v.sent = sentAsTyped.size();
  const std::u32string sent = Cased(sentAsTyped, before.casing);
  const std::size_t size = before.text.size();
  const std::size_t selFirst = std::min({before.selStart, before.selEnd, size});
  const std::size_t selEnd = std::min(std::max(before.selStart, before.selEnd), size);
  const std::u32string_view head = std::u32string_view(before.text).substr(0, selFirst);
  const std::u32string_view tail = std::u32string_view(before.text).substr(selEnd);
  const std::u32string_view now = after.text;
  if (now.size() < head.size() + tail.size() || !now.starts_with(head) || !now.ends_with(tail)) {
    v.why = "the field changed where no key went";
    return v;
  }
  const std::u32string_view arrived = now.substr(head.size(), now.size() - head.size() - tail.size());
  v.arrived = arrived.size();
  if (arrived == sent) {
    v.outcome = Delivery::kDelivered;
    return v;
  }
  // Fields for codes and order numbers often make every letter a capital,
  // and a wrong Shift would hardly change every small letter alike. Capitals
  // that arrive small are what a Shift applied late makes: those count.
  if (arrived == Cased(sent, FieldCase::kUpper)) {
    v.why = "the field changes the case of letters";
    return v;
  }
  v.outcome = Delivery::kDifferent;
  // What both ends agree on needs no aligning.
  std::size_t same = 0;
  while (same < sent.size() && same < arrived.size() && sent[same] == arrived[same]) ++same;
  std::size_t sameEnd = 0;
  while (sameEnd < sent.size() - same && sameEnd < arrived.size() - same &&
         sent[sent.size() - 1 - sameEnd] == arrived[arrived.size() - 1 - sameEnd])
    ++sameEnd;
  const std::u32string_view a = std::u32string_view(sent).substr(same, sent.size() - same - sameEnd);
  const std::u32string_view b = arrived.substr(same, arrived.size() - same - sameEnd);
  if ((a.size() + 1) * (b.size() + 1) > kAlignCellLimit) {
    v.lost = a.size() > b.size() ? a.size() - b.size() : 0;
    v.extra = b.size() > a.size() ? b.size() - a.size() : 0;
    return v;
  }
  const Edits e = Align(a, b);
  v.lost = e.lost;
  v.extra = e.extra;
  v.wrongCase = e.wrongCase;
  v.wrongCharacter = e.wrongCharacter;
  return v;
}

std::string DeliveryVerdict::Describe() const {
  switch (outcome) {
    case Delivery::kDelivered: return "delivered";
    case Delivery::kCannotTell: return "cannot tell whether it arrived: " + why;
    case Delivery::kDifferent: break;
  }
  std::string out = std::to_string(sent) + " characters sent, " + std::to_string(arrived) + " arrived";
  const std::pair<std::size_t, const char*> parts[] = {
      {lost, "lost"}, {extra, "extra"}, {wrongCase, "of the wrong case"}, {wrongCharacter, "wrong"}};
  std::string sep = ": ";
  for (const auto& [n, what] : parts) {
    if (n == 0) continue;
    out += sep + std::to_string(n) + " " + what;
    sep = ", ";
  }
  return out;
}

FieldReading DeliveryCheck::Read(DeliveryVerdict& v) {
  const auto start = clock_.Monotonic();
  FieldReading r = reader_.Read(kFieldAnswerLimit);
  ++v.reads;
  v.reading += clock_.Monotonic() - start;
  return r;
}

void DeliveryCheck::Before() {
  DeliveryVerdict cost;
  before_ = Read(cost);
  beforeAt_ = clock_.Monotonic();
  beforeReads_ = cost.reads;
  beforeTook_ = cost.reading;
}

DeliveryVerdict DeliveryCheck::After(std::u32string_view sent) {
  // The contents serve this comparison only.
  const FieldReading before = std::exchange(before_, {});
  DeliveryVerdict v;
  v.reads = std::exchange(beforeReads_, 0);
  v.reading = std::exchange(beforeTook_, {});
  if (!before.field) {
    v.why = before.why;
    return v;
  }
  const std::size_t selection = std::max(before.field->selStart, before.field->selEnd) -
                                std::min(before.field->selStart, before.field->selEnd);
  const std::size_t whole = before.field->text.size() - std::min(selection, before.field->text.size()) + sent.size();
  const auto start = clock_.Monotonic();
  auto changed = start;
  // The read before the keys is the first point of the field's rate.
  std::optional<std::u32string> last = before.field->text;
  auto lastAt = std::exchange(beforeAt_, {});
  std::chrono::microseconds idle = kFieldPollFirst;
  for (;;) {
    const FieldReading now = Read(v);
    const auto t = clock_.Monotonic();
    v.settled = t - start;
    auto cannotTell = [&](std::string why) {
      v.outcome = Delivery::kCannotTell;
      v.why = std::move(why);
      return v;
    };
    if (!now.field) return cannotTell(now.why);
    if (now.which != before.which) return cannotTell("another field took the focus");
    DeliveryVerdict compared = CompareField(*before.field, sent, *now.field);
    compared.reads = v.reads, compared.reading = v.reading, compared.settled = v.settled;
    v = std::move(compared);
    if (v.outcome == Delivery::kDelivered) return v;
    const std::size_t size = now.field->text.size();
    const std::size_t had = last ? last->size() : size;
    if (last != now.field->text) changed = t;
    const auto since = t - lastAt;
    last = now.field->text;
    lastAt = t;
    if (t - changed >= kFieldQuietMs) return v;
    // An application still taking keys this long after the last is slow, not
    // wrong: what it makes of them in the end cannot be waited for.
    if (t - start >= kFieldCheckLimit || pump_.QuitRequested()) return cannotTell("the field was still changing");
    // A field that fills at a steady rate is looked at again about when it
    // should be full: a long record into a slow application is not read at
    // every key, and the verdict still comes soon after the last one lands.
    std::chrono::microseconds wait;
    if (size < whole && size > had) {
      wait = std::clamp(since * static_cast<long>(whole - size) / static_cast<long>(size - had),
                        std::chrono::microseconds(kFieldPollFirst), std::chrono::microseconds(kFieldPollMax));
      idle = kFieldPollFirst;
    } else {
      wait = idle;
      idle = std::min<std::chrono::microseconds>(idle * 2, kFieldPollIdle);
    }
    Pause(pump_, clock_, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
  }
}

}  // namespace tarvik
