#include "wedge/keystroke_output.h"

#include <gtest/gtest.h>

#include "fakes/fake_wedge.h"
#include "wedge/option_lists.h"

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
  // The same stored index means a different key in each key list.
  const std::tuple<Ctl, int, const char*> items[] = {
      {Ctl::Combo8, 13, "{F2}"}, {Ctl::Combo2, 13, "{F1}"}, {Ctl::Combo3, 13, "{UP}"}, {Ctl::Combo8, 12, "{F1}"},
      {Ctl::Combo2, 12, "{UP}"}, {Ctl::Combo3, 12, "{UP}"}, {Ctl::Combo1, 20, "200"}, {Ctl::Combo6, 0, "none"}};
  for (auto [list, index, text] : items) EXPECT_EQ(c.ItemText(list, index), text) << index;
}

class Typing : public ::testing::Test, public FilledWindow {
 protected:
  Typing() { pump.processed = 0; }
  std::vector<std::string> Tokens() const {
    std::vector<std::string> tokens;
    for (const auto& s : keys.sent)
      if (s.token != "<record>") tokens.push_back(s.token);
    return tokens;
  }
  RecordingKeys keys{clock};
  KeystrokeOutput out{controls, pump, clock, keys};
};

TEST_F(Typing, TheExampleRecordKeyByKey) {
  controls.Preset(Ctl::Combo8, 11);  // {TAB}
  controls.Preset(Ctl::Combo7, 3);
  controls.Preset(Ctl::Combo1, 5);  // 50 ms
  controls.Preset(Ctl::Combo2, 5);  // {ENTER}
  controls.Preset(Ctl::Combo4, 1);
  controls.Preset(Ctl::Combo5, 7);  // suffix 2 "none": nothing
  out.inviarecord("AB");
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

TEST_F(Typing, PrefixAndSuffixSelections) {
  struct Case {
    std::vector<std::pair<Ctl, int>> presets;
    std::string text;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      // Index 0 is "none", a count of 0 is nothing; 13 in suffix 2 is its second {UP}.
      {{{Ctl::Combo8, 0}, {Ctl::Combo7, 5}, {Ctl::Combo2, 5}, {Ctl::Combo4, 0}, {Ctl::Combo3, 13}, {Ctl::Combo5, 2}},
       "Q", {"Q", "{UP}", "{UP}"}},
      // An empty record still types its prefix and suffixes.
      {{{Ctl::Combo8, 12}, {Ctl::Combo7, 1}, {Ctl::Combo2, 5}, {Ctl::Combo4, 1}, {Ctl::Combo3, 1}, {Ctl::Combo5, 1}},
       "", {"{F1}", "{ENTER}", "{BS}"}},
  };
  for (const auto& c : cases) {
    keys.sent.clear();
    for (auto [ctl, i] : c.presets) controls.Preset(ctl, i);
    out.inviarecord(c.text);
    EXPECT_EQ(Tokens(), c.tokens) << c.text;
  }
  controls.minimized = false;  // nothing at all while the window is shown
  keys.sent.clear();
  out.inviarecord("AB");
  EXPECT_TRUE(keys.sent.empty());
}

TEST_F(Typing, DelayChangesAtTheNextKeyShowStateReadOncePerRecord) {
  controls.Preset(Ctl::Combo1, 10);  // 100 ms
  pump.At(150ms, [&] { controls.SetListIndex(Ctl::Combo1, 2); });  // 20 ms, inside B's pause
  pump.At(160ms, [&] { controls.minimized = false; });             // restored: the record still goes out
  out.inviarecord("ABCD");
  EXPECT_EQ(keys.sent, (std::vector<Sent>{{"<record>", -1ms}, {"A", 0ms}, {"B", 100ms}, {"C", 200ms}, {"D", 220ms}}));
  EXPECT_EQ(clock.now, 240ms);
}

}  // namespace
}  // namespace tarvik
