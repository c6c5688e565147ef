// The typing policy against a keyboard that keeps every key's state as the
// target sees it and as the user's fingers hold it, and counts the faults a
// wedge can cause: a character that meets Ctrl, Alt or Super (a chord), an
// Alt or Super release with no key since its press (a menu opens), a
// modifier pressed again after the user let go of it.
#include "keys/typing_policy.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <string>

namespace tarvik::typing {
namespace {

// Key ids and modifier bits of the test keyboard.
enum : KeyId { kShift = 1, kCtrl = 2, kAlt = 3, kSuper = 4, kAltGr = 5, kLetter = 10, kMask = 99 };
enum : ModMask { kShiftBit = 1, kCtrlBit = 2, kAltBit = 4, kSuperBit = 8, kAltGrBit = 16 };
constexpr std::size_t kKeys = 128;

class FakeKeys : public IKeys {
 public:
  std::optional<ModifierKey> Modifier(KeyId key) const override {
    static const std::map<KeyId, ModifierKey> mods = {{kShift, {kShiftBit, false}},
        {kCtrl, {kCtrlBit, false}}, {kAlt, {kAltBit, true}}, {kSuper, {kSuperBit, true}},
        {kAltGr, {kAltGrBit, false}}};
    const auto it = mods.find(key);
    return it == mods.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<KeyId> MaskKey() const override { return kMask; }
  std::optional<std::vector<KeyId>> PhysicallyHeld() override {
    return fingersKnown ? std::optional(ModifiersIn(physical)) : std::nullopt;
  }
  std::size_t Send(std::span<const Event> events) override {
    const int call = calls++;
    std::size_t n = 0;
    for (const auto& e : events) {
      if (call == refuseCall && n == refuseAfter) return unknownTaken ? kTakenUnknown : n;
      if (e.role == Role::UserRestore && e.down && !physical[e.key]) ++phantoms;
      Key(e.key, e.down, true);
      ++n;
    }
    if (afterSend) afterSend(call);
    return n;
  }

  void User(KeyId k, bool down) {
    physical[k] = down;
    Key(k, down, false);
  }
  std::vector<KeyId> Held() const { return ModifiersIn(logical); }
  int Stray() const {
    int n = 0;
    for (std::size_t k = 0; k < kKeys; ++k) n += logical[k] && !physical[k];
    return n;
  }

  bool fingersKnown = true, unknownTaken = false;
  int refuseCall = -1;  // this Send stops after refuseAfter events
  std::size_t refuseAfter = 0;
  std::function<void(int call)> afterSend;
  int calls = 0, chords = 0, menus = 0, phantoms = 0;
  std::vector<ModMask> typedWith;  // the modifiers in effect at each letter
  std::array<bool, kKeys> logical{}, physical{};

 private:
  static std::vector<KeyId> ModifiersIn(const std::array<bool, kKeys>& state) {
    std::vector<KeyId> held;
    for (KeyId k : {kShift, kCtrl, kAlt, kSuper, kAltGr})
      if (state[k]) held.push_back(k);
    return held;
  }
  void Key(KeyId k, bool down, bool byProgram) {
    const auto mod = Modifier(k);
    const bool acts = mod && mod->tapActs;
    if (down) {
      armed_ = {};  // any key pressed disarms every Alt and Super held
      if (acts) {
        armed_[k] = true;
        pressInjected_[k] = byProgram;
      }
      if (!mod && k != kMask) {
        ModMask in = 0;
        for (KeyId m : Held()) in |= Modifier(m)->mask;
        typedWith.push_back(in);
        chords += (in & (kCtrlBit | kAltBit | kSuperBit)) != 0;
      }
    } else if (acts) {
      if (logical[k] && armed_[k] && (byProgram || pressInjected_[k])) ++menus;
      armed_[k] = false;
    }
    logical[k] = down;
  }
  std::array<bool, kKeys> armed_{}, pressInjected_{};
};

Stroke Letter(ModMask needs = 0) {
  Stroke s{{{kLetter, true, Role::Key}, {kLetter, false, Role::Key}}, needs, {}};
  if (needs & kAltGrBit) s.presses.push_back({kAltGrBit, kAltGr});
  if (needs & kShiftBit) s.presses.push_back({kShiftBit, kShift});
  return s;
}

TEST(TypingPolicy, KeysGoAroundTheHeldOnesInOrder) {
  FakeKeys keys;
  const KeyId held[] = {kCtrl, kAlt};
  const auto w = Wrap(Letter(kAltGrBit | kShiftBit), held, keys);
  EXPECT_EQ(w.events, (std::vector<Event>{
      {kCtrl, false, Role::UserRelease}, {kMask, true, Role::Mask}, {kMask, false, Role::Mask},
      {kAlt, false, Role::UserRelease}, {kAltGr, true, Role::Modifier}, {kShift, true, Role::Modifier},
      {kLetter, true}, {kLetter, false}, {kShift, false, Role::Modifier}, {kAltGr, false, Role::Modifier}}));
  EXPECT_EQ(w.restore, (std::vector<KeyId>{kAlt, kCtrl}));
  EXPECT_EQ(PressAgain(w.restore, keys), (std::vector<Event>{{kAlt, true, Role::UserRestore},
      {kMask, true, Role::Mask}, {kMask, false, Role::Mask}, {kCtrl, true, Role::UserRestore}}));
}

// Whatever the user holds and whenever they let go: the letter with exactly
// the modifiers it needs, no chord, nothing left down, no menu, the user's
// keys down again only while still held.
TEST(TypingPolicy, HeldModifiersAreLetGoAndPressedAgainOnlyWhileHeld) {
  struct Case {
    const char* name;
    KeyId held;
    ModMask needs;
    bool letGoDuringKey, fingersKnown, downAfter;
  };
  const Case cases[] = {
      {"Ctrl held on", kCtrl, 0, false, true, true},
      {"Ctrl let go during the key", kCtrl, 0, true, true, false},
      {"Ctrl, fingers unknown", kCtrl, 0, false, false, false},
      {"Alt held on", kAlt, 0, false, true, true},
      {"Super let go during the key", kSuper, 0, true, true, false},
      {"Shift kept for a capital", kShift, kShiftBit, false, true, true},
      {"Shift let go for a small letter", kShift, 0, false, true, true},
      {"Alt under an AltGr character", kAlt, kAltGrBit, false, true, true},
      {"AltGr kept for an AltGr character", kAltGr, kAltGrBit, false, false, true},
  };
  for (const auto& c : cases) {
    FakeKeys keys;
    keys.fingersKnown = c.fingersKnown;
    keys.User(c.held, true);
    if (c.letGoDuringKey) keys.afterSend = [&](int call) { if (call == 0) keys.User(c.held, false); };
    EXPECT_TRUE(TypeStroke(keys, Letter(c.needs), keys.Held())) << c.name;
    ReleaseStrays(keys, keys.Held());
    EXPECT_EQ(keys.typedWith, std::vector<ModMask>{c.needs}) << c.name;
    EXPECT_EQ(keys.logical[c.held], c.downAfter) << c.name;
    EXPECT_EQ(keys.chords + keys.phantoms, 0) << c.name;
    if (c.fingersKnown) {
      EXPECT_EQ(keys.Stray(), 0) << c.name;
    }
    if (keys.physical[c.held]) keys.User(c.held, false);  // the user's own release, later
    EXPECT_EQ(keys.menus, 0) << c.name;
  }
}

// The system stops after any number of a key's events, saying how many or
// not: the stroke fails and no key of ours stays down.
TEST(TypingPolicy, ARefusalPartWayLeavesNoKeyOfOursDown) {
  FakeKeys probe;
  const auto all = Wrap(Letter(kAltGrBit | kShiftBit), std::vector<KeyId>{kAlt}, probe).events;
  for (bool unknown : {false, true}) {
    for (std::size_t after = 0; after < all.size(); ++after) {
      FakeKeys keys;
      keys.User(kAlt, true);
      keys.refuseCall = 0;
      keys.refuseAfter = after;
      keys.unknownTaken = unknown;
      const std::string what = std::to_string(after) + (unknown ? " unknown" : " counted");
      EXPECT_FALSE(TypeStroke(keys, Letter(kAltGrBit | kShiftBit), keys.Held())) << what;
      EXPECT_EQ(keys.Stray(), 0) << what;
      keys.User(kAlt, false);
      EXPECT_EQ(keys.menus, 0) << what;
    }
  }
  // Counted: only what went is undone, latest first; the user's keys are not ours.
  const auto undo = UndoAfterRefusal(all, 6);  // Alt let go, AltGr, Shift and the letter down
  EXPECT_EQ(undo, (std::vector<Event>{{kLetter, false, Role::Key}, {kShift, false, Role::Modifier},
                                      {kAltGr, false, Role::Modifier}}));
  EXPECT_TRUE(UndoAfterRefusal(all, all.size()).empty());
}

TEST(TypingPolicy, AtTheEndModifiersNoFingerHoldsGoUp) {
  const std::tuple<const char*, KeyId, bool, bool> cases[] = {  // name, stuck, fingers known, down after
      {"Alt left down by another program", kAlt, true, false},
      {"Shift left down", kShift, true, false},
      {"fingers unknown: left alone", kAlt, false, true}};
  for (const auto& [name, stuck, fingersKnown, downAfter] : cases) {
    FakeKeys keys;
    keys.fingersKnown = fingersKnown;
    keys.User(kSuper, true);  // the user's own key stays down
    keys.logical[stuck] = true;
    ReleaseStrays(keys, keys.Held());
    EXPECT_EQ(keys.logical[stuck], downAfter) << name;
    EXPECT_TRUE(keys.logical[kSuper]) << name;
    keys.User(kSuper, false);
    EXPECT_EQ(keys.menus, 0) << name;
  }
}

}  // namespace
}  // namespace tarvik::typing
