// What a record becomes: the option lists, the keys typed for a record, and
// the records the reader's bytes make.
#include "wedge/record_reception.h"

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "fakes/fake_wedge.h"
#include "keys/option_lists.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;

// Every selection made while filling, and the events processed at the end,
// see the ready flag still at 0: that keeps the fill from saving.
TEST(OptionLists, CountsFirstSelectionKeyIndexesAndTheReadyFlagLast) {
  FakeControls c;
  FakeClock clock;
  FakePump pump{clock};
  std::int16_t ready = 0;
  std::vector<std::int16_t> seen;
  c.onChange = [&](Ctl) { seen.push_back(ready); };
  pump.onProcess = [&] { seen.push_back(ready); };
  creacombo(c, pump, ready);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(pump.processed, 1);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen, std::vector<std::int16_t>(seen.size(), 0));
  const std::pair<Ctl, int> counts[] = {{Ctl::Combo8, 24}, {Ctl::Combo2, 25}, {Ctl::Combo3, 26},
                                        {Ctl::Combo7, 16}, {Ctl::Combo4, 16}, {Ctl::Combo5, 16},
                                        {Ctl::Combo1, 21}, {Ctl::Combo9, 11}, {Ctl::Combo6, 256}};
  for (auto [list, n] : counts)
    EXPECT_EQ(std::pair(c.ListCount(list), c.ListIndex(list)), std::pair(n, 0)) << static_cast<int>(list);
}

class Typing : public ::testing::Test, public FilledWindow {
 protected:
  Typing() { pump.processed = 0; }
  RecordingKeys keys{clock};
  KeystrokeOutput out{controls, pump, clock, keys};
};

TEST_F(Typing, DefaultsTypeOnlyTheCharactersEachFollowedByEventProcessing) {
  int lastSeen = -1;
  pump.onProcess = [&] { lastSeen = static_cast<int>(keys.sent.size()) - 1; };  // less the record's mark
  out.inviarecord("x1\u00E9");
  EXPECT_EQ(keys.Text(), "x1\u00E9");
  EXPECT_EQ(lastSeen, 3);  // events were processed after the last key too
  EXPECT_EQ(clock.now, 0ms);
  EXPECT_GE(pump.processed, 3 + 4);
}

TEST_F(Typing, DelayChangesAtTheNextKeyShowStateReadOncePerRecord) {
  controls.Preset(Ctl::Combo1, 10);  // 100 ms
  pump.At(150ms, [&] { controls.SetListIndex(Ctl::Combo1, 2); });  // 20 ms, inside B's pause
  pump.At(160ms, [&] { controls.typesRecords = false; });             // restored: the record still goes out
  out.inviarecord("ABCD");
  EXPECT_EQ(keys.sent, (std::vector<Sent>{{"<record>", -1ms}, {"A", 0ms}, {"B", 100ms}, {"C", 200ms}, {"D", 220ms}}));
  EXPECT_EQ(clock.now, 240ms);
}

// Keys may still be on their way when SendKeyTokens returns: the record is
// typed only once Flush says the system took them all, at its end, before
// its suffixes (the field is read back there) and before every pause (a key
// followed by a pause is out before it); each key is waited for once. A refusal found
// there ends the record, and nothing more of it goes.
TEST_F(Typing, SelectionsAndFlushesBeforeEachPauseAndAtTheEndWhereARefusalEndsTheRecord) {
  struct Case {
    std::vector<std::pair<Ctl, int>> presets;  // on lists all at 0; Combo1 5 is 50 ms after every key
    std::string text;
    int refusedFlush;
    TypeOutcome outcome;
    std::string typed;
    std::vector<std::size_t> flushedAt;  // keys sent (with the record's mark) at each Flush
    std::chrono::milliseconds took;
  };
  const Case cases[] = {
      {{}, "ABC", -1, TypeOutcome::kTyped, "ABC", {4}, 0ms},
      // Refused at the first: the end asks again, for the releases that undid it.
      {{}, "ABC", 0, TypeOutcome::kRefused, "ABC", {4, 4}, 0ms},
      {{{Ctl::Combo1, 5}}, "ABC", -1, TypeOutcome::kTyped, "ABC", {2, 3, 4}, 150ms},
      // {TAB} x3, 50 ms after every key, {ENTER} x1, suffix 2 "none" x7: nothing.
      {{{Ctl::Combo8, 11}, {Ctl::Combo7, 3}, {Ctl::Combo1, 5}, {Ctl::Combo2, 5}, {Ctl::Combo4, 1},
        {Ctl::Combo5, 7}}, "AB", -1, TypeOutcome::kTyped, "{TAB}{TAB}{TAB}AB{ENTER}", {2, 3, 4, 5, 6, 7}, 300ms},
      // Refused at B's: no pause after B, no C, and the end still asks.
      {{{Ctl::Combo1, 5}}, "ABC", 1, TypeOutcome::kRefused, "AB", {2, 3, 3}, 50ms},
      // Prefix key 0 is "none", a suffix 1 count of 0 is nothing; 13 in suffix 2 is its second {UP}.
      {{{Ctl::Combo7, 5}, {Ctl::Combo2, 5}, {Ctl::Combo3, 13}, {Ctl::Combo5, 2}}, "Q", -1,
       TypeOutcome::kTyped, "Q{UP}{UP}", {2, 4}, 0ms},
      // An empty record still types its prefix and suffixes.
      {{{Ctl::Combo8, 12}, {Ctl::Combo7, 1}, {Ctl::Combo2, 5}, {Ctl::Combo4, 1}, {Ctl::Combo3, 1},
        {Ctl::Combo5, 1}}, "", -1, TypeOutcome::kTyped, "{F1}{ENTER}{BS}", {2, 4}, 0ms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "\"" << c.text << "\" typed as " << c.typed << ", refused at "
                                      << c.refusedFlush);
    keys.sent.clear();
    keys.flushedAt.clear();
    keys.refusedFlush = c.refusedFlush;
    for (Ctl l : {Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4, Ctl::Combo5, Ctl::Combo7, Ctl::Combo8})
      controls.Preset(l, 0);
    for (auto [ctl, i] : c.presets) controls.Preset(ctl, i);
    const auto start = clock.now;
    EXPECT_EQ(out.inviarecord(c.text), c.outcome);
    EXPECT_EQ(keys.Text(), c.typed);
    EXPECT_EQ(keys.flushedAt, c.flushedAt);
    EXPECT_EQ(clock.now - start, c.took);
  }
  controls.typesRecords = false;  // nothing at all while the window is shown
  keys.sent.clear();
  out.inviarecord("AB");
  EXPECT_TRUE(keys.sent.empty());
}

// A way of typing that readies a record's keys: it is asked with each token
// once, prefix and suffixes included, and the keys wait, events processed,
// as long as it says; a record it cannot ready is not typed at all.
TEST_F(Typing, KeysAreReadiedForTheWholeRecordBeforeTheFirstGoes) {
  struct ReadyingKeys : RecordingKeys {
    using RecordingKeys::RecordingKeys;
    bool CanTypeAll(std::span<const std::string> tokens) override {
      asked.assign(tokens.begin(), tokens.end());
      return tokens.size() <= 4;
    }
    std::optional<std::chrono::milliseconds> Ready(std::span<const std::string> tokens) override {
      asked.assign(tokens.begin(), tokens.end());
      if (waits.empty()) return std::nullopt;
      const auto w = waits.front();
      waits.erase(waits.begin());
      return w;
    }
    std::vector<std::string> asked;
    std::vector<std::chrono::milliseconds> waits;
  };
  ReadyingKeys ready{clock};
  KeystrokeOutput output{controls, pump, clock, ready};
  controls.Preset(Ctl::Combo2, 5);  // suffix 1 {ENTER} once
  controls.Preset(Ctl::Combo4, 1);
  EXPECT_TRUE(output.CanType(TypedRecord::Of("BAAB")));
  EXPECT_EQ(ready.asked, (std::vector<std::string>{"A", "B", "{ENTER}"}));
  EXPECT_FALSE(output.CanType(TypedRecord::Of("ABCD")));
  ready.waits = {30ms, 0ms};
  pump.processed = 0;
  EXPECT_EQ(output.inviarecord("ABA"), TypeOutcome::kTyped);
  EXPECT_EQ(ready.sent, (std::vector<Sent>{{"<record>", -1ms}, {"A", 30ms}, {"B", 30ms}, {"A", 30ms},
                                           {"{ENTER}", 30ms}}));
  EXPECT_GT(pump.processed, 0);
  ready.sent.clear();
  EXPECT_EQ(output.inviarecord("ABA"), TypeOutcome::kRefused);  // no more waits: cannot
  EXPECT_EQ(ready.Text(), "");
}

// Record reception wired to fakes as the main window wires it, minimized;
// the reader is answered ("F") after each record, a beep first, if asked.
struct Wedge : FilledWindow {
  explicit Wedge(bool feedback = false, bool beep = false) {
    controls.SetCheckValue(kFeedbackBox, feedback);
    controls.SetCheckValue(kBeepBox, beep);
  }
  FakeClient client{clock};
  FakeLibrary library;
  FakeTimer timer3;
  FakeSound sound{pump, clock};
  FakeDecoder decoder;
  FakeField fields;
  RecordingKeys keys{clock, &fields};
  ReaderCommands commands{client, library, controls, pump, clock};
  KeystrokeOutput output{controls, pump, clock, keys};
  FakeTarget target;
  FakeNotice notice;
  RecordingLog log;
  FakeWatchedFile rulesFile;
  RecordRules rules{rulesFile, notice, clock, log};
  RecordReception reception{{controls, pump, clock, timer3, sound, decoder, library, commands, output,
                             [](std::string_view name) { return "C:\\WINDOWS\\" + std::string(name); },
                             target, notice, rules, fields, kReceiveBufferLimit, log}};
  void Data(std::string_view chunk) { reception.wclClient_OnData(Bytes(chunk)); }
  std::vector<std::string> Feedbacks() const {
    std::vector<std::string> out;
    for (const auto& w : client.written) out.emplace_back(w.bytes.begin(), w.bytes.end());
    return out;
  }
  std::vector<std::string> Records() const {  // the keys of each record, run together
    std::vector<std::string> records;
    for (const auto& s : keys.sent)
      if (s.token == "<record>") records.emplace_back();
      else records.back() += s.token;
    return records;
  }
};

// Shown while the window is shown, never typed; the target is asked only
// where a record would be typed. The reader hears of a typed line after its keys.
TEST(Reception, TypingThenSoundThenFeedbackOnlyFromTheTray) {
  Wedge w(true, true);
  w.sound.lengthMs = 400;
  w.Data("XY\r\n");
  EXPECT_EQ(w.sound.played, (std::vector<std::string>{"C:\\WINDOWS\\beep1.wav"}));
  // The keys at once; then sound 400 ms, Pause 100, the feedback's own 200: "F" at 700 ms.
  EXPECT_EQ(w.keys.sent.back(), (Sent{"X", 0ms}));
  ASSERT_EQ(w.client.written.size(), 1u);
  EXPECT_EQ(w.client.written[0].at, 700ms);
  w.controls.typesRecords = false;
  w.target.target.inputDesktopIsOurs = false;
  w.Data("AB\r\n");
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "AB");
  EXPECT_EQ(w.Feedbacks(), (std::vector<std::string>{"F", "F"}));
  EXPECT_EQ(w.keys.Text(), "X");
  EXPECT_EQ(w.target.queries, 1);
  EXPECT_EQ(w.notice.calls, std::vector<std::string>{"typed"});  // the line shown neither warns nor ends one
}

TEST(Reception, DataArrivingInsideAWaitIsHandledAfterTheLineInProgress) {
  Wedge w(true);
  w.controls.Preset(Ctl::Combo1, 5);  // 50 ms after every key
  w.pump.At(150ms, [&] { w.Data("DEF\r"); });
  w.pump.At(320ms, [&] { w.Data("\nGH\r\n"); });
  w.Data("ABC\r\n");
  EXPECT_EQ(w.Records(), (std::vector<std::string>{"AB", "DE", "G"}));
  EXPECT_EQ(w.Feedbacks(), (std::vector<std::string>{"F", "F", "F"}));
  // Timer3 is never switched on while lines are still being handled.
  EXPECT_EQ(w.timer3.changes.back(), true);
  EXPECT_EQ(std::count(w.timer3.changes.begin(), w.timer3.changes.end(), true), 1);
}

TEST(Reception, DataReArmsTheInactivityDeadline) {
  Wedge w;
  w.controls.Preset(Ctl::Combo9, 1);
  w.commands.ArmInactivityDeadline();
  w.clock.now = 50s;
  w.Data("x");  // no line: still a sign of life
  w.clock.now = 64s;
  w.commands.Timer3_Timer();
  EXPECT_TRUE(w.client.written.empty());
  w.clock.now = 111s;
  w.commands.Timer3_Timer();
  EXPECT_FALSE(w.client.written.empty());
}

// However the reader's bytes are cut, the same records, each answered once.
// Classic lines too short for a record (a lone LF, CR LF alone) are passed
// over; a lone LF drops the character before it; a double-byte character
// whose lead byte ends a chunk stays whole. Every event stops Timer3 and
// starts it again. (Random cuts, plain lines and lines past the length limit
// are the reception fuzz target's.)
TEST(Reception, AnyCuttingOfTheSameBytesGivesTheSameRecords) {
  using namespace std::string_literals;
  const std::string stream =
      "\n0123\r\n\nA\r\n\r\nBC\r\nxyz\n\x88\x41\x89\x42\r\n\x00\x01\t\r\nLAST\r\nrest"s;
  const std::vector<std::string> records = {
      "012", "", "B", "x", EncodeUtf8(char32_t(0x4E00 + 7 * 256 + 0x41)), "\x00\x01"s, "LAS"};
  for (const std::size_t step : {stream.size(), std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
    SCOPED_TRACE(::testing::Message() << "in steps of " << step);
    Wedge w(true);
    w.decoder.dbcs = true;
    std::vector<bool> onOff;
    for (std::size_t at = 0; at < stream.size(); at += step) {
      w.Data(std::string_view(stream).substr(at, step));
      onOff.insert(onOff.end(), {false, true});
    }
    EXPECT_EQ(w.Records(), records);
    EXPECT_EQ(w.Feedbacks(), std::vector<std::string>(records.size(), "F"));
    EXPECT_EQ(w.controls.Caption(Ctl::Label1), "LAST");
    EXPECT_EQ(w.reception.ReceiveBuffer(), Bytes("rest"));
    EXPECT_EQ(w.timer3.changes, onOff);
  }
}

TEST(Reception, KeysThatCannotReachTheTargetGoNowhereAndTheUserIsTold) {
  struct Case {
    const char* name;
    std::function<void(KeyTarget&)> set;
    std::string notice;
    std::string notReady = {};  // the way of typing's own reason it cannot type now
  };
  const Case cases[] = {{"locked", [](KeyTarget& t) { t.inputDesktopIsOurs = false; },
       "A scan was not typed: the computer is locked or a secure screen is open."},
      {"no focus", [](KeyTarget& t) { t.hasForeground = false; },
       "A scan was not typed: no window has the keyboard focus."},
      {"elevated", [](KeyTarget& t) { t.targetIntegrity = 0x3000, t.program = "Taskmgr.exe"; },
       "A scan was not typed: Taskmgr.exe runs as administrator and does not take keys from Tarvik."},
      {"unreadable, messages refused", [](KeyTarget& t) { t.targetIntegrity.reset(), t.takesMessages = false; },
       "A scan was not typed: notepad.exe runs as administrator and does not take keys from Tarvik."},
      {"unreadable, nothing told", [](KeyTarget& t) { t.targetIntegrity.reset(), t.program.clear(); },
       "A scan was not typed: Tarvik cannot tell whether the program in front takes keys from it."},
      {"not allowed by the desktop", [](KeyTarget&) {},
       "A scan was not typed: the desktop has not allowed Tarvik to type.",
       "the desktop has not allowed Tarvik to type"},
  };
  for (const auto& c : cases) {
    Wedge w(true, true);
    const KeyTarget ordinary = w.target.target;
    c.set(w.target.target);
    w.keys.notReady = c.notReady;
    w.Data("AB1\r\n");
    EXPECT_EQ(w.controls.Caption(Ctl::Label1), "AB1") << c.name;
    EXPECT_EQ(w.keys.Text(), "") << c.name;
    EXPECT_TRUE(w.client.written.empty()) << c.name;
    EXPECT_TRUE(w.sound.played.empty()) << c.name;
    EXPECT_EQ(w.notice.warnings, std::vector<std::string>{c.notice}) << c.name;
    // The target takes keys again: the next line is typed, the earlier one never.
    w.target.target = ordinary;
    w.keys.notReady.clear();
    w.Data("CD\r\n");
    EXPECT_EQ(w.keys.Text(), "C") << c.name;
    EXPECT_EQ(w.Feedbacks(), std::vector<std::string>{"F"}) << c.name;
    EXPECT_EQ(w.notice.warnings.size(), 1u) << c.name;
    // The typed line ends the warning that stayed on the icon.
    EXPECT_EQ(w.notice.calls, (std::vector<std::string>{"warn", "typed"})) << c.name;
  }
}

// The reader hears "F" only for what arrived: the field is read before the
// first key and after the last character, until it holds what it should or
// stops changing. One that got something else gets no suffix and no "F", the
// user is told, and that program's keys go slower from then on. Where nothing
// can be read, or the field changes what it gets, the keys are not held
// against it.
TEST(Reception, TheReaderHearsOnlyOnceTheFieldHoldsWhatWasScanned) {
  const std::string x100(100, 'x');
  struct Case {
    const char* name;
    std::function<void(FakeField&)> set;
    std::string rules, line;  // plain lines: all of the line is typed
    bool answered;
    std::string logged;  // the end of the record's line in the log
    int reads;           // of the field; -1: more than two
    std::string field;   // what it holds at the end
  };
  const auto none = [](FakeField&) {};
  const Case cases[] = {
      {"delivered at once", none, "", "AB", true, "typed; delivered", 2, "AB"},
      {"delivered once the application has taken its keys", [](FakeField& f) { f.lagReads = 3; }, "", "AB",
       true, "typed; delivered", -1, "AB"},
      {"typed over a selection, the caret in the middle",
       [](FakeField& f) { f.field = {U"0123456", 5, 2}; }, "", "AB", true, "typed; delivered", 2, "01AB56"},
      {"keys lost at full speed", [](FakeField& f) { f.dropEvery = 40; }, "", x100, false,
       "arrived wrong in notepad.exe, 100 characters sent, 98 arrived: 2 lost", -1, std::string(98, 'x')},
      {"a field that makes capitals", [](FakeField& f) { f.upper = true; }, "", "ab", true,
       "typed; cannot tell whether it arrived: the field changes the case of letters", -1, "AB"},
      {"nothing readable", [](FakeField& f) { f.readable = false; }, "", "AB", true,
       "typed; cannot tell whether it arrived: no field", 1, "AB"},
      {"turned off", none, "verify = off\n", "AB", true, "typed; cannot tell whether it arrived: verify = off", 0,
       "AB"},
      {"a key that is not a character", none, "GS = {TAB}\n", "A\x1d" "B", true,
       "typed; cannot tell whether it arrived: keys other than characters", 0, "AB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Wedge w(true);
    w.controls.Preset(Ctl::Combo2, 5), w.controls.Preset(Ctl::Combo4, 1);  // {ENTER} after each
    w.rulesFile.Write("[reader]\nlines = plain\n[all]\n" + c.rules);
    c.set(w.fields);
    w.Data(c.line + "\r\n");
    EXPECT_EQ(w.Feedbacks(), std::vector<std::string>(c.answered ? 1 : 0, "F"));
    EXPECT_EQ(w.keys.sent.back().token == "{ENTER}", c.answered);
    EXPECT_NE(w.log.Text().find(c.logged + (c.reads > 0 || c.reads < 0 ? " (" : "\n")), std::string::npos)
        << w.log.Text();
    if (c.reads >= 0) EXPECT_EQ(w.fields.reads, c.reads);
    else EXPECT_GT(w.fields.reads, 2);
    EXPECT_EQ(EncodeUtf8(w.fields.field.text), c.field);
    EXPECT_EQ(w.notice.warnings, std::vector<std::string>(
        c.answered ? 0 : 1, "A scan arrived wrong in notepad.exe: scan it again."));
    if (c.answered) continue;
    // Scanned again into the cleared field: 5 ms apart, it arrives whole.
    w.fields.field = {};
    w.keys.sent.clear();
    w.Data(c.line + "\r\n");
    EXPECT_EQ(EncodeUtf8(w.fields.field.text), c.line);
    EXPECT_EQ(w.Feedbacks(), std::vector<std::string>{"F"});
    EXPECT_EQ(w.keys.sent[2].at - w.keys.sent[1].at, 5ms);
  }
}

// Only keys that all arrived end a warning (the test above; a line shown only
// ends none, the first test): one refused part way warns, and the rest of it
// is not sent.
TEST(Reception, OnlyALineTypedWholeEndsAWarning) {
  Wedge w;
  w.keys.refuseAfter = 1;
  w.Data("ABC\r\n");  // the last character is the reader's own: "AB" would be typed
  EXPECT_EQ(w.notice.calls, std::vector<std::string>{"warn"});
  EXPECT_EQ(w.keys.Text(), "A");
  EXPECT_EQ(w.notice.warnings,
            std::vector<std::string>{"A scan was not typed in full: the system refused the keys."});
}

// A character that cannot be typed here (a fixed US keyboard has no "é")
// would be dropped and another record typed: none of it goes, the reader
// hears nothing, the user is told. A prefix key counts too.
TEST(Reception, ARecordWithACharacterThatCannotBeTypedIsNeitherTypedNorAnswered) {
  Wedge w(true);
  w.keys.untypeable = "\u00E9{F2}";
  w.Data("A\xE9" "B1\r\n");  // the reader's code page: é
  w.controls.Preset(Ctl::Combo8, 13), w.controls.Preset(Ctl::Combo7, 1);  // {F2} first
  w.Data("AB1\r\n");
  w.controls.Preset(Ctl::Combo8, 12);  // {F1}
  w.Data("CD1\r\n");
  EXPECT_EQ(w.Records(), std::vector<std::string>{"{F1}CD"});
  EXPECT_EQ(w.Feedbacks(), std::vector<std::string>{"F"});
  EXPECT_EQ(w.notice.warnings, std::vector<std::string>(2, "A scan was not typed: Tarvik cannot type one of "
                                                           "its characters here."));
  EXPECT_NE(w.log.Text().find("Record of 4 characters: not typed: a character the keyboard here cannot type"),
            std::string::npos);
}

// The rules decide before the reader hears: a skipped or repeated record is
// answered and not typed, one a rule cannot finish is neither, and the user
// is told. The log names the section and the rule's line, never the data.
TEST(Reception, RulesDecideBeforeTheReaderHears) {
  Wedge w(true);
  w.rulesFile.Write("[all]\nrepeat_ms = 800\nskip = ^CFG\n[app notepad.exe]\nreplace = (x|x)*[yz] => z\n"
                    "GS = {TAB}\n");
  w.target.target.program = "other.exe";
  w.Data("CFG-1\r\n");  // skipped
  w.Data("A\x1d" "B.\r\n");
  w.clock.now += 500ms;
  w.Data("A\x1d" "B.\r\n");  // the same again, soon
  w.clock.now += 900ms;
  w.Data("A\x1d" "B.\r\n");  // the same again, later
  w.target.target.program = "NOTEPAD.EXE";
  w.Data(std::string(30, 'x') + "..\r\n");  // too costly
  // Each answered record takes 300 ms after its keys (Pause and "F").
  EXPECT_EQ(w.keys.sent, (std::vector<Sent>{{"<record>", -1ms}, {"A", 300ms}, {"B", 300ms},
                                            {"<record>", -1ms}, {"A", 2300ms}, {"B", 2300ms}}));
  EXPECT_EQ(w.Feedbacks(), std::vector<std::string>(4, "F"));
  EXPECT_EQ(w.notice.warnings, std::vector<std::string>{
      "A scan was not typed: the rule on line 5 of C:\\WINDOWS\\tarvik.ini could not finish on it."});
  const std::string log = w.log.Text();
  for (const char* line : {
           "Record of 5 characters ([all]): not typed: skipped by the rule on line 3\n",
           "Record of 4 characters ([all]): typed; delivered (2 reads",
           "Record of 4 characters ([all]): not typed: the same as the last typed record, within 800 ms\n",
           "Record of 32 characters ([app notepad.exe]): not typed: the rule on line 5 of "
           "C:\\WINDOWS\\tarvik.ini could not finish on it\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(log.find("CFG"), std::string::npos);
}

// Read at the first line and whenever the file changes; lines it cannot use
// are told once per change; a file the editor holds keeps the rules before.
TEST(Reception, TheRulesFileIsReadAgainWhenItChanges) {
  Wedge w;
  w.Data("AB1\r\n");
  w.rulesFile.Write("[all]\nreplace = A => a\nbogus = 1\n");
  w.Data("AB2\r\n");
  w.Data("AB3\r\n");
  EXPECT_EQ(w.rulesFile.reads, 1);
  w.rulesFile.readable = false;
  w.rulesFile.Write("[reader]\nlines = plain\n");
  w.Data("AB4\r\n");
  w.rulesFile.readable = true;
  w.Data("AB5\r\n");
  w.rulesFile.Write("");
  w.Data("AB6\r\n");
  EXPECT_EQ(w.Records(), (std::vector<std::string>{"AB", "aB", "aB", "aB", "AB5", "AB"}));
  ASSERT_EQ(w.notice.warnings.size(), 2u);
  EXPECT_EQ(w.notice.warnings[0], "1 line of C:\\WINDOWS\\tarvik.ini cannot be used and is skipped; the "
                                  "rest applies. Line 3: unknown key \"bogus\".");
  EXPECT_NE(w.log.Text().find("Rules: C:\\WINDOWS\\tarvik.ini line 3 skipped: unknown key \"bogus\"\n"),
            std::string::npos);
  EXPECT_NE(w.log.Text().find("Record of 3 characters: typed; delivered (2 reads"), std::string::npos);
}

}  // namespace
}  // namespace tarvik
