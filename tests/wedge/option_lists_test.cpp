#include "wedge/option_lists.h"

#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_pump.h"

namespace tarvik {
namespace {

using testing::FakeClock;
using testing::FakeControls;
using testing::FakePump;

TEST(OptionLists, CountsFirstSelectionAndKeyIndexes) {
  FakeControls c;
  FakeClock clock;
  FakePump pump{clock};
  std::int16_t ready = 0;
  creacombo(c, pump, ready);
  const std::pair<Ctl, int> counts[] = {{Ctl::Combo8, 24}, {Ctl::Combo2, 25}, {Ctl::Combo3, 26},
                                        {Ctl::Combo7, 16}, {Ctl::Combo4, 16}, {Ctl::Combo5, 16},
                                        {Ctl::Combo1, 21}, {Ctl::Combo9, 11}, {Ctl::Combo6, 256}};
  for (auto [list, n] : counts) {
    EXPECT_EQ(c.ListCount(list), n) << static_cast<int>(list);
    EXPECT_EQ(c.ListIndex(list), 0) << static_cast<int>(list);
  }
  // The same stored index means a different key in each key list.
  EXPECT_EQ(c.ItemText(Ctl::Combo8, 13), "{F2}");
  EXPECT_EQ(c.ItemText(Ctl::Combo2, 13), "{F1}");
  EXPECT_EQ(c.ItemText(Ctl::Combo3, 13), "{UP}");
  EXPECT_EQ(c.ItemText(Ctl::Combo8, 12), "{F1}");
  EXPECT_EQ(c.ItemText(Ctl::Combo2, 12), "{UP}");
  EXPECT_EQ(c.ItemText(Ctl::Combo3, 12), "{UP}");
  EXPECT_EQ(c.ItemText(Ctl::Combo1, 20), "200");
  EXPECT_EQ(c.ItemText(Ctl::Combo6, 0), "none");
}

// Every selection made while filling, and the events processed at the end,
// see the flag still at 0: that keeps the fill from saving.
TEST(OptionLists, SettingsReadyOnlyAfterEventsWereProcessed) {
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  std::int16_t ready = 0;
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
