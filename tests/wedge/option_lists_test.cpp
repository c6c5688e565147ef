#include "wedge/option_lists.h"

#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_pump.h"

namespace tarvik {
namespace {

using testing::FakeClock;
using testing::FakeControls;
using testing::FakePump;

struct Filled {
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  std::int16_t ready = 0;
  Filled() { creacombo(controls, pump, ready); }
};

TEST(OptionLists, EntryCountsAndFirstSelection) {
  Filled f;
  const std::pair<Ctl, int> counts[] = {
      {Ctl::Combo8, 24}, {Ctl::Combo2, 25}, {Ctl::Combo3, 26}, {Ctl::Combo7, 16},
      {Ctl::Combo4, 16}, {Ctl::Combo5, 16}, {Ctl::Combo1, 21}, {Ctl::Combo9, 11},
      {Ctl::Combo6, 256}};
  for (auto [list, n] : counts) {
    EXPECT_EQ(f.controls.ListCount(list), n) << static_cast<int>(list);
    EXPECT_EQ(f.controls.ListIndex(list), 0) << static_cast<int>(list);
  }
}

TEST(OptionLists, IndexesOfTheKeyListsDiffer) {
  Filled f;
  auto& c = f.controls;
  // Entry 13, and the meaning of a stored index 12, in each key list.
  EXPECT_EQ(c.ItemText(Ctl::Combo8, 13), "{F2}");
  EXPECT_EQ(c.ItemText(Ctl::Combo2, 13), "{F1}");
  EXPECT_EQ(c.ItemText(Ctl::Combo3, 13), "{UP}");
  EXPECT_EQ(c.ItemText(Ctl::Combo8, 12), "{F1}");
  EXPECT_EQ(c.ItemText(Ctl::Combo2, 12), "{UP}");
  EXPECT_EQ(c.ItemText(Ctl::Combo3, 12), "{UP}");
  for (Ctl list : {Ctl::Combo8, Ctl::Combo2, Ctl::Combo3}) {
    EXPECT_EQ(c.ItemText(list, 0), "none");
    EXPECT_EQ(c.ItemText(list, 1), "{BS}");
    EXPECT_EQ(c.ItemText(list, 11), "{TAB}");
    EXPECT_EQ(c.ItemText(list, c.ListCount(list) - 1), "{F12}");
  }
  int ups = 0;
  for (int i = 0; i < c.ListCount(Ctl::Combo8); ++i) ups += c.ItemText(Ctl::Combo8, i) == "{UP}";
  EXPECT_EQ(ups, 0);
  EXPECT_EQ(PrefixKeyEntries().size(), 24u);
  EXPECT_EQ(Suffix2KeyEntries()[14], "{F1}");
}

TEST(OptionLists, NumberLists) {
  Filled f;
  auto& c = f.controls;
  EXPECT_EQ(c.ItemText(Ctl::Combo1, 0), "0");
  EXPECT_EQ(c.ItemText(Ctl::Combo1, 1), "10");
  EXPECT_EQ(c.ItemText(Ctl::Combo1, 20), "200");
  EXPECT_EQ(c.ItemText(Ctl::Combo9, 10), "10");
  EXPECT_EQ(c.ItemText(Ctl::Combo6, 0), "none");
  EXPECT_EQ(c.ItemText(Ctl::Combo6, 1), "1");
  EXPECT_EQ(c.ItemText(Ctl::Combo6, 255), "255");
  for (Ctl list : {Ctl::Combo4, Ctl::Combo5, Ctl::Combo7})
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c.ItemText(list, i), std::to_string(i));
}

TEST(OptionLists, SettingsReadyOnlyAfterEventsWereProcessed) {
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  std::int16_t ready = 0;
  // Every selection made while filling, and the events processed at the end,
  // must see the flag still at 0: that is what keeps the fill from saving.
  std::vector<std::int16_t> seen;
  controls.onChange = [&](Ctl) { seen.push_back(ready); };
  pump.onProcess = [&] { seen.push_back(ready); };
  creacombo(controls, pump, ready);
  EXPECT_EQ(ready, 1);
  ASSERT_FALSE(seen.empty());
  for (auto v : seen) EXPECT_EQ(v, 0);
  EXPECT_EQ(pump.processed, 1);
}

}  // namespace
}  // namespace tarvik
