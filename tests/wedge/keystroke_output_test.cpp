#include "wedge/keystroke_output.h"

#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_keys.h"
#include "fakes/fake_pump.h"
#include "wedge/option_lists.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakeControls;
using testing::FakePump;
using testing::RecordingKeys;
using testing::Sent;

class Typing : public ::testing::Test {
 protected:
  Typing() {
    std::int16_t ready = 0;
    creacombo(controls, pump, ready);
    controls.minimized = true;
    pump.processed = 0;
  }
  std::vector<std::string> Tokens() const {
    std::vector<std::string> tokens;
    for (const auto& s : keys.sent)
      if (s.token != "<record>") tokens.push_back(s.token);
    return tokens;
  }

  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  RecordingKeys keys{clock};
  KeystrokeOutput out{controls, pump, clock, keys};
};

TEST_F(Typing, TheExampleRecordKeyByKey) {
  controls.Preset(Ctl::Combo8, 11);  // {TAB}
  controls.Preset(Ctl::Combo7, 3);
  controls.Preset(Ctl::Combo1, 5);   // 50 ms
  controls.Preset(Ctl::Combo2, 5);   // {ENTER}
  controls.Preset(Ctl::Combo4, 1);
  controls.Preset(Ctl::Combo5, 7);   // a repeat count with suffix 2 "none": nothing
  out.inviarecord("AB");
  // The keyboard's state is read once, before the record's first key.
  EXPECT_EQ(keys.sent, (std::vector<Sent>{{"<record>", -1ms}, {"{TAB}", 0ms}, {"{TAB}", 50ms}, {"{TAB}", 100ms},
                                          {"A", 150ms}, {"B", 200ms}, {"{ENTER}", 250ms}}));
  EXPECT_EQ(clock.now, 300ms);
}

TEST_F(Typing, DefaultsTypeOnlyTheCharactersEachFollowedByEventProcessing) {
  int lastSeen = -1;
  pump.onProcess = [&] { lastSeen = static_cast<int>(Tokens().size()); };
  out.inviarecord("x1\u00E9");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"x", "1", "\u00E9"}));
  EXPECT_EQ(lastSeen, 3);  // events were processed after the last key too
  EXPECT_EQ(clock.now, 0ms);
  EXPECT_GE(pump.processed, 3 * 2 + 4);
}

TEST_F(Typing, IndexZeroMeansNoKey) {
  controls.Preset(Ctl::Combo8, 0);   // prefix "none"...
  controls.Preset(Ctl::Combo7, 5);   // ...repeated 5 times: nothing
  controls.Preset(Ctl::Combo2, 5);   // {ENTER}...
  controls.Preset(Ctl::Combo4, 0);   // ...0 times: nothing
  controls.Preset(Ctl::Combo3, 13);  // the second {UP} of suffix 2
  controls.Preset(Ctl::Combo5, 2);
  out.inviarecord("Q");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"Q", "{UP}", "{UP}"}));
}

TEST_F(Typing, NothingAtAllWhileTheWindowIsShown) {
  controls.minimized = false;
  controls.Preset(Ctl::Combo8, 11);
  controls.Preset(Ctl::Combo7, 1);
  out.inviarecord("AB");
  EXPECT_TRUE(keys.sent.empty());
}

TEST_F(Typing, EmptyTextTypesPrefixAndSuffixes) {
  controls.Preset(Ctl::Combo8, 12);  // {F1}
  controls.Preset(Ctl::Combo7, 1);
  controls.Preset(Ctl::Combo2, 5);
  controls.Preset(Ctl::Combo4, 1);
  controls.Preset(Ctl::Combo3, 1);   // {BS}
  controls.Preset(Ctl::Combo5, 1);
  out.inviarecord("");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"{F1}", "{ENTER}", "{BS}"}));
}

TEST_F(Typing, ADelayChangedInsideAPauseTakesEffectAtTheNextKey) {
  controls.Preset(Ctl::Combo1, 10);  // 100 ms
  pump.At(150ms, [&] { controls.SetListIndex(Ctl::Combo1, 2); });  // 20 ms, inside B's pause
  out.inviarecord("ABCD");
  EXPECT_EQ(keys.sent, (std::vector<Sent>{{"<record>", -1ms}, {"A", 0ms}, {"B", 100ms}, {"C", 200ms}, {"D", 220ms}}));
  EXPECT_EQ(clock.now, 240ms);
}

TEST_F(Typing, TheShowStateIsReadOncePerRecord) {
  controls.Preset(Ctl::Combo1, 1);
  // The user restores the window in the middle: the rest of the record still goes out.
  pump.At(15ms, [&] { controls.minimized = false; });
  out.inviarecord("ABC");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(TrimSpaces, Cases) {
  EXPECT_EQ(TrimSpaces("  {TAB} "), "{TAB}");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces("x"), "x");
}

}  // namespace
}  // namespace tarvik
