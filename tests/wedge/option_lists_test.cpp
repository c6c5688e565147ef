#include "wedge/option_lists.h"

#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_pump.h"

namespace tarvik {
namespace {

using testing::FakeClock;
using testing::FakeControls;
using testing::FakePump;

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

}  // namespace
}  // namespace tarvik
