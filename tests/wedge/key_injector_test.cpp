#include "wedge/key_injector.h"

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_keyboard.h"

namespace tarvik {
namespace {

using namespace testing;
using R = KeyEvent::Role;

struct HeldCase {
  const char* name;
  std::vector<std::uint8_t> held;  // under the user's fingers as the record starts
  std::string record;
  int letGoBefore = -1, letGoAfter = -1;  // the user lets go right before / after this injection
  std::uint8_t stuck = 0;                 // down for the target, but no finger on it
};

// Whatever the user holds and whenever they let go: the record's characters, no
// key left down, no menu or Start opened, the user's own later release included.
TEST(KeyInjector, HeldModifiersNeitherChordNorStickNorOpenMenus) {
  const HeldCase cases[] = {{"Shift", {vk::kLShift}, "aB1"}, {"Ctrl", {vk::kLControl}, "wab"},
      {"Alt", {vk::kLMenu}, "ab!"}, {"AltGr", {vk::kLControl, vk::kRMenu}, "ab@"}, {"Win", {vk::kLWin}, "ab"},
      {"right Ctrl and Shift", {vk::kRControl, vk::kRShift}, "Ab"},
      {"Alt let go as the first key went out", {vk::kLMenu}, "abz", -1, 0},
      {"AltGr let go as the first key went out", {vk::kLControl, vk::kRMenu}, "aa", -1, 0},
      {"Win let go while the first key was on its way", {vk::kLWin}, "ab", 0},
      {"Shift let go between two keys", {vk::kLShift}, "aBy", -1, 1},
      {"Alt left down by another program", {}, "ab", -1, -1, vk::kLMenu},
      {"Shift left down by another program", {}, "AB", -1, -1, vk::kLShift},
  };
  const FakeLayout us = UsLayout();
  for (const auto& c : cases) {
    FakeKeyboard kb(us);
    for (auto v : c.held) kb.User(v, true);
    if (c.stuck) kb.logical[c.stuck] = true;
    auto letGo = [&] { for (auto v : c.held) kb.User(v, false); };
    kb.beforeInject = [&](int call) { if (call == c.letGoBefore) letGo(); };
    kb.afterInject = [&](int call) { if (call == c.letGoAfter) letGo(); };
    KeyInjector keys(kb);
    keys.BeginRecord();
    for (char32_t ch : DecodeUtf8(c.record)) EXPECT_TRUE(keys.SendKeyTokens(EncodeUtf8(ch))) << c.name;
    keys.EndRecord();
    EXPECT_EQ(EncodeUtf8(kb.typed), c.record) << c.name;
    EXPECT_EQ(kb.chords, 0) << c.name;
    EXPECT_EQ(kb.Stray(), 0) << c.name;
    EXPECT_EQ(kb.phantoms, 0) << c.name;
    // Still held: down again for the target, as before the record.
    for (auto v : c.held) EXPECT_EQ(kb.logical[v], kb.physical[v]) << c.name;
    for (auto v : c.held) if (kb.physical[v]) kb.User(v, false);
    EXPECT_EQ(kb.menus, 0) << c.name;
    EXPECT_EQ(kb.Down(), 0) << c.name;
  }
}

TEST(KeyInjector, AnOpenInputMethodGetsCharactersAsPacketsAndKeysAsKeys) {
  const FakeLayout us = UsLayout();
  FakeKeyboard kb(us);
  kb.imeOpen = true;
  KeyInjector keys(kb);
  keys.BeginRecord();
  for (auto t : {"a", "B", "\t", "{ENTER}"}) keys.SendKeyTokens(t);
  keys.EndRecord();
  std::vector<std::pair<std::uint16_t, R>> downs;
  for (const auto& e : kb.injected)
    if (!e.up) downs.emplace_back(e.vk ? e.vk : e.scan, e.role);
  EXPECT_EQ(downs, (std::vector<std::pair<std::uint16_t, R>>{
                       {'a', R::Unicode}, {'B', R::Unicode}, {vk::kTab, R::Key}, {vk::kReturn, R::Key}}));
  // The input method is read once per record.
  kb.imeOpen = false;
  keys.SendKeyTokens("a");
  EXPECT_EQ(kb.injected.back().role, R::Unicode);
}

TEST(KeyInjector, ARefusalPartWayStopsTheRecordAndLeavesNothingDown) {
  FilledWindow w;
  w.controls.Preset(Ctl::Combo2, 5), w.controls.Preset(Ctl::Combo4, 1);  // {ENTER} after the record
  const FakeLayout us = UsLayout();
  FakeKeyboard kb(us);
  kb.User(vk::kLControl, true);  // the user holds Ctrl, which is let go for each key
  kb.shortCall = 2;              // the "A": Ctrl up, Shift down, A down, then no more
  kb.shortTake = 3;
  KeyInjector keys(kb);
  KeystrokeOutput out(w.controls, w.pump, w.clock, keys);
  EXPECT_EQ(out.inviarecord("aAb"), TypeOutcome::kRefused);
  EXPECT_EQ(EncodeUtf8(kb.typed), "aA");  // nothing after the refusal, no Enter
  EXPECT_EQ(kb.Stray(), 0);
  EXPECT_EQ(kb.chords, 0);
  kb.User(vk::kLControl, false);
  EXPECT_EQ(kb.Down(), 0);
  // The next record is typed as usual.
  EXPECT_EQ(out.inviarecord("b"), TypeOutcome::kTyped);
  EXPECT_EQ(EncodeUtf8(kb.typed), "aAb");
}

}  // namespace
}  // namespace tarvik
