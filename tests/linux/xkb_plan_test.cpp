#include "wedge/linux/xkb_plan.h"

#include <gtest/gtest.h>

#include "linux/fake_xkeyboard.h"
#include "wedge/linux/xkey_injector.h"

namespace tarvik::lnx {
namespace {

using namespace lnx::testing;
using R = XKeyAction::Role;

TEST(XkbPlan, TypesEachCharacterOnItsOwnLevelAndNoKeyStaysDown) {
  struct Case {
    const char* token;
    XKeymap (*map)();
    std::uint8_t locked;
    std::u32string typed;
    std::vector<Keysym> syms;
  };
  const Case cases[] = {
      {"a", UsKeymap, 0, U"a", {}},  {"A", UsKeymap, 0, U"A", {}}, {"1", UsKeymap, 0, U"1", {}},
      // Caps Lock: Shift undoes it on letters.
      {"a", UsKeymap, xmod::kLock, U"a", {}}, {"A", UsKeymap, xmod::kLock, U"A", {}},
      {"z", GermanKeymap, 0, U"z", {}}, {"@", GermanKeymap, 0, U"@", {}},
      {"\u03A9", GermanKeymap, 0, U"\u03A9", {}},  // Shift+AltGr
      {"\u00B2", GermanKeymap, 0, U"\u00B2", {}}, {"\u20AC", GermanKeymap, 0, U"\u20AC", {}},
      // Missing (and dead on the German layout): bound to a spare keycode.
      {"^", GermanKeymap, 0, U"^", {}}, {"\u00E9", UsKeymap, 0, U"\u00E9", {}},
      {"\t", UsKeymap, 0, U"", {xk::kTab}}, {"\r", UsKeymap, 0, U"", {}},
      {"\n", UsKeymap, 0, U"", {}}, {"\x17", UsKeymap, 0, U"", {}}, {"\x7F", UsKeymap, 0, U"", {}},
      {"\u0085", UsKeymap, 0, U"", {}}, {"{BREAK}", UsKeymap, 0, U"", {xk::kBreak}},
      // The character itself, by its Unicode keysym on a spare keycode.
      {"{U+001D}", UsKeymap, 0, U"\x1d", {}}, {"{U+00E9}", UsKeymap, 0, U"\u00E9", {}},
  };
  for (const auto& c : cases) {
    FakeXKeyboard kb(c.map());
    kb.locked = c.locked;
    XKeyInjector keys(kb);
    keys.BeginRecord();
    EXPECT_TRUE(keys.SendKeyTokens(c.token)) << c.token;
    keys.EndRecord();
    EXPECT_EQ(kb.typed, c.typed) << c.token;
    EXPECT_EQ(kb.syms, c.syms) << c.token;
    EXPECT_EQ(kb.Stray() + kb.chords, 0) << c.token;
  }
}

// The keys the user holds as the mapping describes them: Alt acts when
// tapped, so the mask key goes before its release; the right Shift stands in
// for ours; the level-3 key is let go.
TEST(XkbPlan, ModifiersGoAroundTheKeyInOrder) {
  const std::tuple<const char*, XKeymap, std::vector<Keycode>, std::vector<XKeyAction>> cases[] = {
      {"A", UsKeymap(), {},
       {{kShift, true, R::Modifier}, {kA, true}, {kA, false}, {kShift, false, R::Modifier}}},
      // Not the keypad's *: in a terminal it can send an escape sequence.
      {"*", UsKeymap(), {},
       {{kShift, true, R::Modifier}, {kStar, true}, {kStar, false}, {kShift, false, R::Modifier}}},
      {"\u03A9", GermanKeymap(), {}, {{kRAlt, true, R::Modifier}, {kShift, true, R::Modifier}, {kQ, true},
                                     {kQ, false}, {kShift, false, R::Modifier}, {kRAlt, false, R::Modifier}}},
      {"{BREAK}", UsKeymap(), {}, {{kCtrlL, true, R::Modifier}, {kPause, true}, {kPause, false},
                                   {kCtrlL, false, R::Modifier}}},
      {"a", UsKeymap(), {kAltL}, {{kMaskKey, true, R::Mask}, {kMaskKey, false, R::Mask},
                                  {kAltL, false, R::UserRelease}, {kA, true}, {kA, false}}},
      {"A", UsKeymap(), {kShiftR}, {{kA, true}, {kA, false}}},
      {"a", UsKeymap(), {kLvl3}, {{kLvl3, false, R::UserRelease}, {kA, true}, {kA, false}}},
  };
  for (const auto& [token, map, held, events] : cases)
    EXPECT_EQ(PlanXKeys(token, map, {0, held}).events, events) << token << " " << held.size();
}

// The policy's own cases are in typing_policy_test.cpp; here, that X's keys
// reach it: a key still held is down again, one no finger holds goes up at
// the record's end.
TEST(XKeyInjector, AHeldKeyIsDownAgainAndAStrayOneGoesUpAtTheEnd) {
  FakeXKeyboard kb(UsKeymap());
  kb.User(kAltL, true);
  XKeyInjector keys(kb);
  keys.BeginRecord();
  EXPECT_TRUE(keys.SendKeyTokens("a"));
  kb.logical[kCtrlL] = true;  // pressed by another program and left down
  keys.EndRecord();
  EXPECT_EQ(kb.typed, U"a");
  EXPECT_TRUE(kb.logical[kAltL]);
  EXPECT_EQ(kb.chords + kb.Stray(), 0);
}

TEST(XKeyInjector, MissingCharactersAreBoundUntilTheNextRecord) {
  FakeXKeyboard kb(UsKeymap());
  XKeyInjector keys(kb);
  keys.BeginRecord();
  EXPECT_TRUE(keys.CanType("\u20AC"));
  for (auto t : {"\u00E9", "\u20AC", "\u00E9", "\u00F1", "a"}) EXPECT_TRUE(keys.SendKeyTokens(t));
  keys.EndRecord();
  EXPECT_EQ(kb.typed, U"\u00E9\u20AC\u00E9\u00F1a");
  EXPECT_EQ(kb.remaps, 3);  // two spare keycodes: the third character takes the oldest
  EXPECT_FALSE(kb.MappingAsAtStart());
  keys.BeginRecord();
  EXPECT_TRUE(kb.MappingAsAtStart());
  // A keycode that a new layout has given a meaning meanwhile is left alone.
  EXPECT_TRUE(keys.SendKeyTokens("\u00E9"));
  kb.Map().keys[kSpare1] = OneLevel(Ch(U'x'));
  keys.BeginRecord();
  EXPECT_EQ(kb.Map().keys[kSpare1], OneLevel(Ch(U'x')));
}

TEST(XKeyInjector, WithoutASpareKeycodeAMissingCharacterIsSkipped) {
  XKeymap map = UsKeymap();
  map.spare.clear();
  FakeXKeyboard kb(map);
  XKeyInjector keys(kb);
  EXPECT_FALSE(keys.CanType("\u00E9"));  // so the record is not typed at all
  EXPECT_TRUE(keys.CanType("b"));
  EXPECT_TRUE(keys.SendKeyTokens("\u00E9"));
  EXPECT_TRUE(keys.SendKeyTokens("b"));
  EXPECT_EQ(kb.typed, U"b");
  EXPECT_EQ(keys.Skipped(), 1u);
}

TEST(XKeyInjector, ARefusedKeyLeavesNoKeyOfOursDown) {
  FakeXKeyboard kb(GermanKeymap());
  kb.refuseCall = 0;
  kb.refuseAfter = 3;  // AltGr, Shift and Q went down
  XKeyInjector keys(kb);
  EXPECT_FALSE(keys.SendKeyTokens("\u03A9"));
  EXPECT_EQ(kb.Stray(), 0);
}

}  // namespace
}  // namespace tarvik::lnx
