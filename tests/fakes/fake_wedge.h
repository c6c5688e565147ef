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

class RecordingKeys : public IKeySender {
 public:
  explicit RecordingKeys(const FakeClock& clock) : clock_(clock) {}
  bool SendKeyTokens(std::string_view token) override {
    if (refuseAfter == 0) return false;
    if (refuseAfter > 0) --refuseAfter;
    return sent.push_back({std::string(token), std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now)}), true;
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
