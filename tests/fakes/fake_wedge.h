// Key injection that records each token and when it went out, where the keys
// would go, and the rules file.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "link/reader_commands.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "core/field_reader.h"
#include "core/utf8.h"
#include "keys/key_reach.h"
#include "keys/keystroke_output.h"
#include "wedge/record_reception.h"
#include "shape/record_rules.h"

namespace tarvik::testing {

struct Sent {
  std::string token;
  std::chrono::milliseconds at;
  bool operator==(const Sent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Sent& s) {
  return os << s.token << "@" << s.at.count();
}

// A text field as an application keeps it: the characters typed go in at the
// caret, replacing a selection, and show in what it reads back only after
// `lagReads` reads (the application takes its keys in its own time). It can
// drop every n-th character that comes less than `fastMs` after the one
// before, make every letter a capital, or not be readable at all.
class FakeField : public IFieldReader {
 public:
  FieldReading Read(std::chrono::milliseconds) override {
    ++reads;
    if (!readable) return {{}, "no field", {}};
    if (lag > 0) --lag;
    return {lag > 0 ? shown : field, {}, which};
  }
  void Type(char32_t c, std::chrono::milliseconds at) {
    const bool fast = last && at - *last < fastMs;
    last = at;
    if (dropEvery > 0 && fast && ++count % dropEvery == 0) return;
    if (lag == 0) shown = field;
    lag = lagReads + 1;
    if (upper && c >= U'a' && c <= U'z') c -= U'a' - U'A';
    const std::size_t first = std::min(field.selStart, field.selEnd), end = std::max(field.selStart, field.selEnd);
    field.text.replace(first, end - first, 1, c);
    field.selStart = field.selEnd = first + 1;
  }
  FieldText field, shown;
  std::string which = "field 1";
  bool readable = true, upper = false;
  int lagReads = 0, dropEvery = 0, reads = 0;
  std::chrono::milliseconds fastMs{3};

 private:
  int lag = 0, count = 0;
  std::optional<std::chrono::milliseconds> last;
};

class RecordingKeys : public IKeySender {
 public:
  explicit RecordingKeys(const FakeClock& clock, FakeField* typedInto = nullptr) : field(typedInto), clock_(clock) {}
  bool SendKeyTokens(std::string_view token) override {
    if (refuseAfter == 0) return false;
    if (refuseAfter > 0) --refuseAfter;
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now);
    if (const auto c = DecodeUtf8(token); field && c.size() == 1 && c[0] >= 0x20) field->Type(c[0], at);
    return sent.push_back({std::string(token), at}), true;
  }
  bool CanType(std::string_view token) override { return untypeable.find(token) == std::string::npos; }
  std::string WhyNotReady() override { return notReady; }
  // Marks where a record began (the keyboard's state is read there).
  void BeginRecord() override { sent.push_back({"<record>", std::chrono::milliseconds(-1)}); }
  bool Flush() override {
    flushedAt.push_back(sent.size());
    return static_cast<int>(flushedAt.size()) - 1 != refusedFlush;
  }

  // The tokens alone, records run together.
  std::string Text() const {
    std::string out;
    for (const auto& s : sent)
      if (s.token != "<record>") out += s.token;
    return out;
  }

  std::vector<Sent> sent;
  // The system takes this many more tokens, then refuses (-1: never refuses).
  int refuseAfter = -1;
  // How many entries of `sent` there were at each Flush; the one at this
  // index (from 0) finds keys refused (-1: none does).
  std::vector<std::size_t> flushedAt;
  int refusedFlush = -1;
  // Tokens the way of typing cannot produce, run together.
  std::string untypeable;
  // Why no key can go now (empty: they can).
  std::string notReady;
  // Where the characters go, if anywhere.
  FakeField* field = nullptr;

 private:
  const FakeClock& clock_;
};

// Where keys would go: an ordinary window of an ordinary program, unless a
// test says otherwise.
class FakeTarget : public IKeyTarget {
 public:
  FakeTarget() {
    target.ownIntegrity = target.targetIntegrity.emplace(0x2000);
    target.program = "notepad.exe";
  }
  KeyTarget Query() const override { return ++queries, target; }
  KeyTarget target;
  mutable int queries = 0;
};

// The rules file: there when it has a stamp; each write a new stamp.
class FakeWatchedFile : public IWatchedFile {
 public:
  std::string Describe() const override { return "C:\\WINDOWS\\tarvik.ini"; }
  std::string Stamp() const override { return stamp; }
  std::optional<std::string> Read(std::size_t limit, std::string& why) const override {
    ++reads;
    if (!readable || bytes.size() > limit) return why = "locked", std::nullopt;
    return bytes;
  }
  bool CreateIfMissing(std::string_view text, std::string& why) override {
    if (!stamp.empty()) return true;
    if (!readable) return why = "denied", false;
    return Write(std::string(text)), true;
  }
  void Write(std::string text) {
    bytes = std::move(text);
    stamp = std::to_string(++writes);
  }
  std::string bytes, stamp;
  bool readable = true;
  int writes = 0;
  mutable int reads = 0;
};

}  // namespace tarvik::testing
