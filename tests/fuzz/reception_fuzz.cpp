// Fuzzes line reception: a reader's bytes arriving in arbitrary chunks must
// give the same records, in order, however they are cut.
//
// Input layout:
//   byte 0           its top bit: lines end at CR, LF or CR LF ("lines = plain"
//                    in the rules file), else at LF with the CR before it;
//                    the other bits: the longest unfinished line kept,
//                    kMinLimit..kMaxLimit
//   byte 1           n, how many chunk lengths follow
//   next n bytes     chunk lengths, used in turn and again from the first
//                    until the stream is used up (0 is an event with no
//                    bytes on the first pass, one byte after it)
//   the rest         the stream the reader sends
// The window is minimized, sound and reader feedback are off (nothing waits,
// so no event arrives inside another), the code page is Latin-1 so every byte
// is one character. What each line must type is worked out from the whole
// stream, without looking at the chunks.
//
// The window and its parts are made once, the lists filled and both rules
// read; each input empties what the fakes recorded and makes the reception,
// the keystroke output and the reader commands afresh, which only takes
// references.
#include <algorithm>
#include <optional>

#include "fuzz/fuzz_target.h"
#include "core/utf8.h"
#include "fakes/fake_wedge.h"
#include "shape/rules.h"

namespace {

using namespace tarvik;

// A line needs a character and the reader's CR to make a record, so a cap
// below that could leave nothing of a long line.
constexpr std::size_t kMinLimit = 2;
// Small, so that the cap is reached often.
constexpr std::size_t kMaxLimit = 64;
constexpr std::size_t kHeaderBytes = 2;
constexpr char kLineFeed = '\n', kReturn = '\r';
constexpr std::uint8_t kPlainBit = 0x80;
constexpr char32_t kLastLatin1 = 0xFF;

// Back from UTF-8 to the reader's bytes.
std::string Latin1(std::string_view utf8) {
  std::string out;
  for (char32_t c : DecodeUtf8(utf8)) {
    Require(c <= kLastLatin1, "a character the stream cannot have was typed or shown");
    out += static_cast<char>(c);
  }
  return out;
}

// What a line types: with a rules file (plain lines), control characters
// no rule names are left out, but for HT; without one they go to the key
// injection as they are, which types nothing for them.
std::string Typeable(std::string_view line, bool ruled) {
  std::string out;
  for (char c : line)
    if (!ruled || c == '\t' || !ControlIndex(static_cast<unsigned char>(c))) out += c;
  return out;
}

using testing::FakeWatchedFile;

struct Bench : testing::FilledWindow {
  Bench() {
    controls.SetCheckValue(kBeepBox, 0);
    controls.SetCheckValue(kFeedbackBox, 0);
    plainFile.Write("[reader]\nlines = plain\n");
    classic.Refresh();
    plain.Refresh();
  }

  // The window as the main window has it before its first data event.
  RecordReception& Start(bool plainLines, std::size_t limit) {
    commands.emplace(client, library, controls, pump, clock);
    output.emplace(controls, pump, clock, keys);
    return reception.emplace(RecordReception::Parts{controls, pump, clock, timer3, sound, decoder, library,
                                                    *commands, *output, programFile, target, notice,
                                                    plainLines ? plain : classic, fields, limit, log});
  }

  // Frees what the input left, within the input: libFuzzer runs an input
  // again to look for leaks when it allocated more than it freed.
  void Finish() {
    reception.reset();
    output.reset();
    commands.reset();
    clock.now = {};
    // Counted across inputs, the pump's passes would overflow an int in a
    // long run.
    pump.processed = 0;
    controls.SetCaption(kLastLineLabel, {});
    client.written = {};
    library.results = {};
    timer3.enabled = false;
    timer3.changes = {};
    sound.played = {};
    keys.sent = {};
    keys.flushedAt = {};
    fields.field = {};
    notice.warnings = {};
    notice.calls = {};
    log.events = {};
  }

  testing::FakeClient client{clock};
  testing::FakeLibrary library;
  testing::FakeTimer timer3;
  testing::FakeSound sound{pump, clock};
  testing::FakeDecoder decoder;
  testing::FakeField fields;
  testing::RecordingKeys keys{clock, &fields};
  testing::FakeTarget target;
  testing::FakeNotice notice;
  testing::RecordingLog log;
  ProgramFile programFile = [](std::string_view name) { return "C:\\WINDOWS\\" + std::string(name); };
  FakeWatchedFile noFile, plainFile;
  RecordRules classic{noFile, notice, clock, log}, plain{plainFile, notice, clock, log};
  std::optional<ReaderCommands> commands;
  std::optional<KeystrokeOutput> output;
  std::optional<RecordReception> reception;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderBytes) return 0;
  const bool plain = data[0] & kPlainBit;
  const std::size_t limit = kMinLimit + (data[0] & ~kPlainBit) % (kMaxLimit - kMinLimit + 1);
  // Classic lines lose the CR and the record's last character.
  const std::size_t dropped = plain ? 0 : 2;
  const std::string_view ends = plain ? "\r\n" : "\n";
  const std::size_t lengthCount = std::min<std::size_t>(data[1], size - kHeaderBytes);
  const std::uint8_t* lengths = data + kHeaderBytes;
  const std::string_view stream(reinterpret_cast<const char*>(lengths + lengthCount),
                                size - kHeaderBytes - lengthCount);

  static Bench w;
  RecordReception& reception = w.Start(plain, limit);
  const auto& held = reception.ReceiveBuffer();
  auto deliver = [&](std::string_view chunk) {
    reception.wclClient_OnData(tarvik::testing::Bytes(chunk));
    Require(held.size() <= limit, "the receive buffer holds more than the limit after an event");
    const auto lineEnd = std::find_first_of(held.begin(), held.end(), ends.begin(), ends.end());
    Require(lineEnd == held.end(), "a line end is left in the receive buffer after an event");
    Require(w.timer3.enabled, "Timer3 is off after an event");
  };
  for (std::size_t k = 0, at = 0; at < stream.size(); ++k) {
    std::size_t n = lengthCount ? lengths[k % lengthCount] : stream.size();
    if (n == 0 && k >= lengthCount) n = 1;  // or the passes never end
    deliver(stream.substr(at, n));
    at += std::min(n, stream.size() - at);
  }

  // The keys of each record, as typed: one character each.
  std::vector<std::string> records;
  for (const auto& s : w.keys.sent) {
    if (s.token == "<record>") {
      records.emplace_back();
      continue;
    }
    Require(!records.empty(), "a key went out before any record began");
    Require(DecodeUtf8(s.token).size() == 1, "a key is not one character of the stream");
    records.back() += Latin1(s.token);
  }

  // Each line of the whole stream long enough for a record, in turn. A
  // plain CR LF is one end, not two.
  bool anyCut = false;
  std::size_t r = 0, start = 0;
  std::string_view lastLine;
  for (std::size_t end; (end = stream.find_first_of(ends, start)) != std::string_view::npos; start = end + 1) {
    const std::string_view line = stream.substr(start, end - start);
    if (plain && stream[end] == kReturn && end + 1 < stream.size() && stream[end + 1] == kLineFeed) ++end;
    if (line.size() < std::max<std::size_t>(dropped, 1)) continue;  // too short for a record: passed over
    Require(r < records.size(), "a line with a record was not typed");
    const std::string& typed = records[r++];
    const std::string whole = Typeable(line.substr(0, line.size() - dropped), plain);
    if (line.size() <= limit) {
      Require(typed == whole, "a line within the limit was not typed exactly");
    } else {
      Require(std::string_view(whole).ends_with(typed), "a long line was typed as something other than its end");
      Require(plain || typed.size() + dropped >= limit, "a long line was cut below the limit");
      anyCut = anyCut || typed.size() < whole.size();
    }
    lastLine = line;
  }
  Require(r == records.size(), "more records were typed than the stream holds");
  if (anyCut)
    Require(std::count(w.library.results.begin(), w.library.results.end(), wcl::kBufferOverflow) > 0,
            "a line was cut without an overflow being reported");

  // The last record is the one shown: what was typed and the character after it.
  const std::string shown = Latin1(w.controls.Caption(Ctl::Label1));
  Require(records.empty() ? shown.empty()
                          : plain ? Typeable(shown, plain) == records.back()
                                  : shown == records.back() + std::string(lastLine.substr(lastLine.size() - dropped, 1)),
          "the window does not show the last record");

  // What is left is the end of the unfinished text, at most the limit.
  const std::string_view unfinished = stream.substr(start);
  const std::string_view keep = unfinished.substr(unfinished.size() - std::min(unfinished.size(), limit));
  Require(std::string_view(reinterpret_cast<const char*>(held.data()), held.size()) == keep,
          "the receive buffer is not the end of the unfinished text");

  Require(w.notice.warnings.empty(), "the user was warned though the keys could reach the target");
  Require(w.client.written.empty(), "something was sent to the reader with feedback off");
  Require(w.sound.played.empty(), "a sound was played with sound off");
  w.Finish();
  return 0;
}
