#include "wedge/record_reception.h"

#include <gtest/gtest.h>

#include <random>

#include "fakes/fake_wedge.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;

struct Wedge : FakeWedge {
  void Data(std::string_view chunk) { reception.wclClient_OnData(Bytes(chunk)); }
  std::vector<std::string> Feedbacks() const {
    std::vector<std::string> out;
    for (const auto& w : client.written) out.emplace_back(w.bytes.begin(), w.bytes.end());
    return out;
  }
};

TEST(Reception, ChunksUnrelatedToLines) {
  Wedge w;
  w.Data("12");
  w.Data("34\r");
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "");
  w.Data("\nAB\n");
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "A");  // a lone LF drops the character before it
  EXPECT_EQ(w.keys.Text(), "123");                  // the record less its last character
  // Every event, also one that completes no line, stops and restarts Timer3.
  EXPECT_EQ(w.timer3.changes, (std::vector<bool>{false, true, false, true, false, true}));
}

TEST(Reception, LinesTooShortForARecordArePassedOverAndHarmNothing) {
  Wedge w;
  w.controls.SetCheckValue(Ctl::Check2, 1);
  w.Data("\n\r\nX\nAB\r\n");  // a lone LF at the start, CR LF alone, one character
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "AB");
  EXPECT_EQ(w.keys.Text(), "A");
  EXPECT_EQ(w.Feedbacks(), (std::vector<std::string>{"F"}));  // only the real line is answered
  // One character and its CR: an empty record (prefix and suffixes only).
  w.controls.Preset(Ctl::Combo2, 5);
  w.controls.Preset(Ctl::Combo4, 1);
  w.Data("Z\r\n");
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "Z");
  EXPECT_EQ(w.keys.Text(), "A{ENTER}");
}

TEST(Reception, SoundThenFeedbackThenTyping) {
  Wedge w;
  w.controls.SetCheckValue(Ctl::Check1, 1);
  w.controls.SetCheckValue(Ctl::Check2, 1);
  w.sound.lengthMs = 400;
  w.Data("XY\r\n");
  EXPECT_EQ(w.sound.played, (std::vector<std::string>{"C:\\WINDOWS\\beep1.wav"}));
  // Sound 400 ms, Pause 100, the feedback's own 200: "F" at 700 ms, then the keys.
  ASSERT_EQ(w.client.written.size(), 1u);
  EXPECT_EQ(w.client.written[0].at, 700ms);
  EXPECT_EQ(w.keys.sent.back(), (Sent{"X", 700ms}));
}

// Shown, not typed, answered; the target is asked only where a record would be typed.
TEST(Reception, NothingTypedWhileTheWindowIsShown) {
  Wedge w;
  w.controls.minimized = false;
  w.controls.SetCheckValue(Ctl::Check2, 1);
  w.target.target.inputDesktopIsOurs = false;
  w.Data("AB\r\n");
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "AB");
  EXPECT_EQ(w.Feedbacks(), (std::vector<std::string>{"F"}));
  EXPECT_EQ(w.keys.Text(), "");
  EXPECT_EQ(w.target.queries, 0);
  EXPECT_TRUE(w.notice.warnings.empty());
}

TEST(Reception, DataArrivingInsideAWaitIsHandledAfterTheLineInProgress) {
  Wedge w;
  w.controls.SetCheckValue(Ctl::Check2, 1);
  w.controls.Preset(Ctl::Combo1, 5);  // 50 ms after every key
  w.pump.At(150ms, [&] { w.Data("DEF\r"); });
  w.pump.At(320ms, [&] { w.Data("\nGH\r\n"); });
  w.Data("ABC\r\n");
  EXPECT_EQ(w.keys.Text(), "ABDEG");
  std::vector<std::string> records;
  for (const auto& s : w.keys.sent)
    if (s.token == "<record>") records.emplace_back();
    else records.back() += s.token;
  EXPECT_EQ(records, (std::vector<std::string>{"AB", "DE", "G"}));
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

TEST(Reception, AnEndlessLineIsCappedAndReported) {
  Wedge w;
  const std::string block(10000, 'x');
  for (int i = 0; i < 10; ++i) w.Data(block);
  EXPECT_EQ(w.reception.ReceiveBuffer().size(), kReceiveBufferLimit);
  EXPECT_NE(std::count(w.library.results.begin(), w.library.results.end(), wcl::kBufferOverflow), 0);
  w.Data("\r\nOK\r\n");  // the reader recovers: later lines come through
  EXPECT_EQ(w.controls.Caption(Ctl::Label1), "OK");
}

TEST(Reception, AnyCuttingOfTheSameBytesGivesTheSameRecords) {
  using namespace std::string_literals;
  const std::string stream =
      "0123\r\n\nA\r\n\r\nBC\r\nxyz\n\x88\x41\x89\x42\r\n\x00\x01\t\r\nLAST\r\nrest"s;
  const std::vector<std::string> expected = {
      "012", "", "B", "x", EncodeUtf8(char32_t(0x4E00 + 7 * 256 + 0x41)), "\x00\x01"s, "LAS"};

  auto run = [&](std::vector<std::size_t> cuts) {
    Wedge w;
    w.decoder.dbcs = true;
    std::size_t at = 0;
    cuts.push_back(stream.size());
    for (std::size_t cut : cuts) {
      w.Data(std::string_view(stream).substr(at, cut - at));
      at = cut;
    }
    std::vector<std::string> records;
    for (const auto& sent : w.keys.sent)
      if (sent.token == "<record>") records.emplace_back();
      else records.back() += sent.token;
    EXPECT_EQ(w.reception.ReceiveBuffer(), Bytes("rest"));
    return records;
  };
  EXPECT_EQ(run({}), expected);
  std::mt19937 random(20261206);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < stream.size(); ++i)
      if (random() % 3 == 0) cuts.push_back(i);
    ASSERT_EQ(run(cuts), expected) << "trial " << trial;
  }
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(run(everyByte), expected);
}

TEST(Reception, KeysThatCannotReachTheTargetGoNowhereAndTheUserIsTold) {
  struct Case {
    const char* name;
    std::function<void(KeyTarget&)> set;
    std::string notice;
  };
  const Case cases[] = {{"locked", [](KeyTarget& t) { t.inputDesktopIsOurs = false; },
       "A scan was not typed: the computer is locked or a secure screen is open."},
      {"no focus", [](KeyTarget& t) { t.hasForeground = false; },
       "A scan was not typed: no window has the keyboard focus."},
      {"elevated", [](KeyTarget& t) { t.targetIntegrity = 0x3000, t.program = "Taskmgr.exe"; },
       "A scan was not typed: Taskmgr.exe runs as administrator and does not take keys from Tarvik."},
      {"unreadable", [](KeyTarget& t) { t.targetIntegrity.reset(), t.program.clear(); },
       "A scan was not typed: the program in front runs as administrator and does not take keys "
       "from Tarvik."},
  };
  for (const auto& c : cases) {
    Wedge w;
    w.controls.SetCheckValue(Ctl::Check1, 1);
    w.controls.SetCheckValue(Ctl::Check2, 1);
    const KeyTarget ordinary = w.target.target;
    c.set(w.target.target);
    w.Data("AB1\r\n");
    EXPECT_EQ(w.controls.Caption(Ctl::Label1), "AB1") << c.name;
    EXPECT_EQ(w.keys.Text(), "") << c.name;
    EXPECT_TRUE(w.client.written.empty()) << c.name;
    EXPECT_TRUE(w.sound.played.empty()) << c.name;
    EXPECT_EQ(w.notice.warnings, std::vector<std::string>{c.notice}) << c.name;
    // The target takes keys again: the next line is typed, the earlier one never.
    w.target.target = ordinary;
    w.Data("CD\r\n");
    EXPECT_EQ(w.keys.Text(), "C") << c.name;
    EXPECT_EQ(w.Feedbacks(), std::vector<std::string>{"F"}) << c.name;
    EXPECT_EQ(w.notice.warnings.size(), 1u) << c.name;
  }
}

TEST(Reception, KeysRefusedPartWayStopTheRecordAndAreTold) {
  Wedge w;
  w.keys.refuseAfter = 1;
  w.Data("ABCD\r\n");
  EXPECT_EQ(w.keys.Text(), "A");
  EXPECT_EQ(w.notice.warnings,
            std::vector<std::string>{"A scan was not typed in full: the system refused the keys."});
}

}  // namespace
}  // namespace tarvik
