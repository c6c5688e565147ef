#include "keys/linux/xkb_plan.h"

#include <gtest/gtest.h>

#include <chrono>

#include "core/utf8.h"

#include "linux/fake_xkeyboard.h"
#include "keys/linux/xkey_injector.h"

namespace tarvik::lnx {
namespace {

using namespace lnx::testing;
using R = XKeyAction::Role;

TEST(XkbPlan, TypesEachCharacterOnItsOwnLevelAndNoKeyStaysDown) {
  // A token, its layout and locked modifiers, the text and other keysyms it types.
  const std::tuple<const char*, XKeymap (*)(), std::uint8_t, std::u32string, std::vector<Keysym>> cases[] = {
      {"a", UsKeymap, 0, U"a", {}},  {"A", UsKeymap, 0, U"A", {}}, {"1", UsKeymap, 0, U"1", {}},
      // Caps Lock: Shift undoes it on letters.
      {"a", UsKeymap, xmod::kLock, U"a", {}}, {"A", UsKeymap, xmod::kLock, U"A", {}},
      {"z", GermanKeymap, 0, U"z", {}}, {"@", GermanKeymap, 0, U"@", {}},
      {"\u03A9", GermanKeymap, 0, U"\u03A9", {}},  // Shift+AltGr
      {"\u00B2", GermanKeymap, 0, U"\u00B2", {}}, {"\u20AC", GermanKeymap, 0, U"\u20AC", {}},
      // Missing (and dead on the German layout): bound to a spare keycode.
      {"^", GermanKeymap, 0, U"^", {}}, {"\u00E9", UsKeymap, 0, U"\u00E9", {}},
      {"\t", UsKeymap, 0, U"", {xk::kTab}}, {"{BREAK}", UsKeymap, 0, U"", {xk::kBreak}},
      {"\r", UsKeymap, 0, U"", {}}, {"\n", UsKeymap, 0, U"", {}}, {"\x17", UsKeymap, 0, U"", {}},
      {"\x7F", UsKeymap, 0, U"", {}}, {"\u0085", UsKeymap, 0, U"", {}},
      // The character itself, by its Unicode keysym on a spare keycode.
      {"{U+001D}", UsKeymap, 0, U"\x1d", {}}, {"{U+00E9}", UsKeymap, 0, U"\u00E9", {}},
  };
  for (const auto& [token, map, locked, typed, syms] : cases) {
    FakeXKeyboard kb(map());
    kb.locked = locked;
    XKeyInjector keys(kb);
    keys.BeginRecord();
    EXPECT_TRUE(keys.SendKeyTokens(token)) << token;
    keys.EndRecord();
    EXPECT_EQ(kb.typed, typed) << token;
    EXPECT_EQ(kb.syms, syms) << token;
    EXPECT_EQ(kb.Stray() + kb.chords, 0) << token;
  }
}

// Held by the user: Alt acts when tapped, so the mask key goes before its
// release; the right Shift stands in for ours; the level-3 key is let go.
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

// A key still held is down again; one no finger holds goes up at the end.
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

using namespace std::chrono_literals;

std::vector<std::string> Tokens(std::u32string_view text) {
  std::vector<std::string> out;
  for (char32_t c : text) out.push_back(EncodeUtf8(c));
  return out;
}

// One record: its keys readied, then sent only when Ready answered zero.
std::optional<std::chrono::milliseconds> Record(XKeyInjector& keys, std::u32string_view text) {
  const auto tokens = Tokens(text);
  keys.BeginRecord();
  const auto ready = keys.Ready(tokens);
  if (ready == 0ms) {
    for (const auto& t : tokens) EXPECT_TRUE(keys.SendKeyTokens(t)) << t;
  }
  keys.EndRecord();
  return ready;
}

// Two spare US keycodes. Each step: time since the last, a record, CanTypeAll,
// what Ready answers, and the bindings made so far.
TEST(XKeyInjector, SpareKeycodesAreBoundPerRecordKeptAndTakenOverOnlyWhenOld) {
  using Wait = std::optional<std::chrono::milliseconds>;
  struct Step {
    std::chrono::milliseconds after;
    std::u32string record;
    bool can;
    Wait ready;
    int remaps;
  };
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"three missing characters, two spare keycodes: nothing bound, nothing typed",
       {{0ms, U"\u00E9\u20AC\u00F1", false, std::nullopt, 0}}},
      {"kept across records: typed again with no new binding",
       {{0ms, U"\u00E9\u20AC\u00E9", true, 0ms, 2}, {10ms, U"\u20AC\u00E9", true, 0ms, 2}}},
      {"a young binding is not taken over: the record waits until it is old",
       {{0ms, U"\u00E9\u20AC", true, 0ms, 2}, {1000ms, U"\u00F1", true, 4000ms, 2}}},
      {"an old one is",
       {{0ms, U"\u00E9\u20AC", true, 0ms, 2}, {5000ms, U"\u00F1a", true, 0ms, 3}}},
      {"one the record types with is not, however old",
       {{0ms, U"\u00E9\u20AC", true, 0ms, 2}, {9000ms, U"\u00E9\u20AC\u00F1", false, std::nullopt, 2},
        {0ms, U"\u00E9\u00F1", true, 0ms, 3}}},
  };
  for (const auto& [name, steps] : cases) {
    FakeXKeyboard kb(UsKeymap());
    std::u32string typed;
    {
      XKeyInjector keys(kb);
      for (const auto& s : steps) {
        kb.now += s.after;
        EXPECT_EQ(keys.CanTypeAll(Tokens(s.record)), s.can) << name;
        const auto sent = kb.calls;
        EXPECT_EQ(Record(keys, s.record), s.ready) << name;
        EXPECT_EQ(kb.remaps, s.remaps) << name;
        if (s.ready == 0ms) {
          typed += s.record;
        } else {
          EXPECT_EQ(kb.calls, sent) << name << ": a key went out";
        }
      }
      EXPECT_EQ(kb.typed, typed) << name;
      EXPECT_EQ(kb.syms, std::vector<Keysym>{}) << name;
    }
    EXPECT_TRUE(kb.MappingAsAtStart()) << name << ": the spare keycodes are not given back";
  }
}

// Keys a slow target reads after the next record started keep their character.
TEST(XKeyInjector, AKeyStillWaitingInTheTargetKeepsItsCharacter) {
  FakeXKeyboard kb(UsKeymap());
  kb.slow = true;
  XKeyInjector keys(kb);
  EXPECT_EQ(Record(keys, U"\u00E9\u20AC"), 0ms);
  kb.now += 100ms;
  EXPECT_EQ(Record(keys, U"\u00F1"), 4900ms);
  kb.Deliver();
  EXPECT_EQ(kb.typed, U"\u00E9\u20AC");
  kb.now += 4900ms;
  EXPECT_EQ(Record(keys, U"\u00F1"), 0ms);
  kb.Deliver();
  EXPECT_EQ(kb.typed, U"\u00E9\u20AC\u00F1");
  EXPECT_EQ(kb.syms, std::vector<Keysym>{});
}

TEST(XKeyInjector, ABindingANewLayoutReplacedIsLeftAlone) {
  FakeXKeyboard kb(UsKeymap());
  {
    XKeyInjector keys(kb);
    EXPECT_EQ(Record(keys, U"\u00E9"), 0ms);
    kb.Map().keys[kSpare1] = OneLevel(Ch(U'x'));
  }
  EXPECT_EQ(kb.Map().keys[kSpare1], OneLevel(Ch(U'x')));
}

TEST(XKeyInjector, WithoutASpareKeycodeAMissingCharacterEndsTheRecordARefusedKeyLeavesNoneDown) {
  XKeymap map = UsKeymap();
  map.spare.clear();
  FakeXKeyboard kb(map), de(GermanKeymap());
  XKeyInjector keys(kb), deKeys(de);
  EXPECT_FALSE(keys.CanType("\u00E9"));  // so the record is not typed at all
  EXPECT_TRUE(keys.CanType("b"));
  EXPECT_TRUE(keys.SendKeyTokens("b"));
  EXPECT_FALSE(keys.SendKeyTokens("\u00E9"));  // refused, not dropped in silence
  EXPECT_EQ(kb.typed, U"b");
  de.refuseCall = 0;
  de.refuseAfter = 3;  // AltGr, Shift and Q went down
  EXPECT_FALSE(deKeys.SendKeyTokens("\u03A9"));
  EXPECT_EQ(de.Stray(), 0);
}

}  // namespace
}  // namespace tarvik::lnx
