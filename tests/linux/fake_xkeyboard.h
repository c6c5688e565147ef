// An X keyboard as tables: a US and a German-like mapping with the keys the
// tests need, and a server that keeps every key's state as the target sees
// it and as the user's fingers hold it, applies the mapping the way XKB does,
// and counts the characters that arrive as a chord. A slow target reads its
// keys only when told, through the mapping as it is then.
#pragma once
#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "keys/linux/xkey_injector.h"

namespace tarvik::lnx::testing {

inline constexpr std::uint8_t kL3 = xmod::kMod5, kSuper = 1 << 6;
inline constexpr Keysym kShiftL = 0xFFE1, kEuroSign = 0x20AC, kDeadCircumflex = 0xFE52;
// Keycodes as the evdev rules give them.
enum Code : Keycode {
  k1 = 10, k2 = 11, kStar = 17, kQ = 24, kE = 26, kY = 29, kCtrlL = 37, kA = 38, kCircum = 49,
  kShift = 50, kZ = 52, kB = 56, kShiftR = 62, kAltL = 64, kLvl3 = 92, kRAlt = 108, kPause = 127,
  kSuperL = 133, kMaskKey = 255, kSpare1 = 254, kSpare2 = 253,
};

inline XLevel Ch(char32_t c) { return {KeysymFor(c), c}; }
inline XLevel Sym(Keysym s) { return {s, 0}; }
inline XKey OneLevel(XLevel a) { return {{a}, 0, {}}; }
inline XKey TwoLevel(XLevel a, XLevel b) { return {{a, b}, xmod::kShift, {{xmod::kShift, 1}}}; }
inline XKey Letter(char32_t lower, char32_t upper) {
  return {{Ch(lower), Ch(upper)}, xmod::kShift | xmod::kLock, {{xmod::kShift, 1}, {xmod::kLock, 1}}};
}
inline XKey FourLevel(XLevel a, XLevel b, XLevel c, XLevel d) {
  return {{a, b, c, d}, xmod::kShift | kL3, {{xmod::kShift, 1}, {kL3, 2}, {xmod::kShift | kL3, 3}}};
}

inline XKeymap BaseKeymap() {
  XKeymap m;
  const std::pair<Keycode, Keysym> single[] = {{23, xk::kTab}, {kShift, kShiftL}, {kShiftR, 0xFFE2},
      {kCtrlL, 0xFFE3}, {kAltL, 0xFFE9}, {kSuperL, 0xFFEB}, {kLvl3, 0xFE03}};
  for (auto [code, sym] : single) m.keys[code] = OneLevel(Sym(sym));
  m.keys[kPause] = {{Sym(0xFF13), Sym(xk::kBreak)}, xmod::kControl, {{xmod::kControl, 1}}};
  m.keys[kA] = Letter(U'a', U'A');
  m.keys[kB] = Letter(U'b', U'B');
  m.keys[kStar] = TwoLevel(Ch(U'8'), Ch(U'*'));
  m.keys[63] = OneLevel({0xFFAA, U'*'});  // KP_Multiply
  m.modifiers = {{kShift, xmod::kShift, false}, {kShiftR, xmod::kShift, false},
                 {kCtrlL, xmod::kControl, false}, {kAltL, xmod::kMod1, true},
                 {kSuperL, kSuper, true}, {kLvl3, kL3, false}};
  m.shift = kShift;
  m.control = kCtrlL;
  m.level3 = kLvl3;
  m.level3Mask = kL3;
  m.mask = kMaskKey;
  m.spare = {kSpare1, kSpare2};
  return m;
}

inline XKeymap UsKeymap() {
  XKeymap m = BaseKeymap();
  m.keys[k1] = TwoLevel(Ch(U'1'), Ch(U'!'));
  return m;
}

// Z sits where US has Y; AltGr (the right Alt key) types @, Omega, the euro
// sign (a keysym of its own) and superscript two; circumflex is a dead key.
inline XKeymap GermanKeymap() {
  XKeymap m = BaseKeymap();
  m.keys[k2] = FourLevel(Ch(U'2'), Ch(U'"'), Ch(U'\u00B2'), Sym(0));
  m.keys[kQ] = FourLevel(Ch(U'q'), Ch(U'Q'), Ch(U'@'), Ch(U'\u03A9'));
  m.keys[kE] = FourLevel(Ch(U'e'), Ch(U'E'), {kEuroSign, U'\u20AC'}, Sym(0));
  m.keys[kY] = Letter(U'z', U'Z');
  m.keys[kCircum] = TwoLevel(Sym(kDeadCircumflex), Ch(U'\u00B0'));
  m.keys[kLvl3] = {};
  m.keys[kRAlt] = OneLevel(Sym(0xFE03));
  m.modifiers.back().code = kRAlt;
  m.level3 = kRAlt;
  return m;
}

class FakeXKeyboard : public IXKeyboard {
 public:
  explicit FakeXKeyboard(XKeymap map) : map_(map), original_(map) {}

  const XKeymap& Keymap() override { return map_; }
  XKeyboardState State() override {
    XKeyboardState st{locked, {}};
    for (const auto& m : map_.modifiers)
      if (logical[m.code]) st.held.push_back(m.code);
    return st;
  }
  std::optional<std::vector<Keycode>> PhysicallyHeld() override {
    std::vector<Keycode> held;
    for (const auto& m : map_.modifiers)
      if (physical[m.code]) held.push_back(m.code);
    return held;
  }
  bool Send(std::span<const XKeyAction> events) override {
    const int call = calls++;
    std::size_t n = 0;
    for (const auto& e : events) {
      if (call == refuseCall && n++ == refuseAfter) return false;
      Key(e.code, e.down);
    }
    return call != refuseCall;
  }
  // A character bound the way the server binds one: one level.
  bool Remap(Keycode code, Keysym sym) override {
    ++remaps;
    const char32_t ch = sym > xk::kUnicodeOffset ? sym - xk::kUnicodeOffset : sym;
    map_.keys[code] = sym == xk::kNoSymbol ? XKey{} : OneLevel({sym, ch});
    map_.spare.clear();
    for (Keycode c : original_.spare)
      if (map_.keys[c].levels.empty()) map_.spare.push_back(c);
    return true;
  }

  // The user's own finger on a key.
  void User(Keycode code, bool down) {
    physical[code] = down;
    Key(code, down);
  }
  // Keys down for the target that no finger holds.
  int Stray() const {
    int n = 0;
    for (std::size_t c = 0; c < kKeyCodes; ++c) n += logical[c] && !physical[c];
    return n;
  }
  bool MappingAsAtStart() const { return map_.keys == original_.keys; }
  Clock::time_point Now() override { return now; }
  // A slow target reads the keys that wait for it now.
  void Deliver() {
    for (auto [code, mods] : waiting_) Read(code, mods);
    waiting_.clear();
  }
  XKeymap& Map() { return map_; }

  std::uint8_t locked = 0;
  int refuseCall = -1;  // the server refuses this Send after taking refuseAfter events
  std::size_t refuseAfter = 0;
  int calls = 0, remaps = 0, chords = 0;
  Clock::time_point now{};
  bool slow = false;  // keys wait until Deliver
  std::u32string typed;       // characters the target got
  std::vector<Keysym> syms;   // keysyms of the other keys it got
  std::array<bool, kKeyCodes> logical{}, physical{};

 private:
  void Key(Keycode c, bool down) {
    const bool modifier = std::any_of(map_.modifiers.begin(), map_.modifiers.end(),
                                      [&](const ModifierKey& m) { return m.code == c; });
    if (down && !modifier && c != map_.mask) Typed(c);
    logical[c] = down;
  }
  void Typed(Keycode c) {
    std::uint8_t mods = locked;
    for (const auto& m : map_.modifiers)
      if (logical[m.code]) mods |= m.mask;
    if (slow) {
      waiting_.emplace_back(c, mods);
    } else {
      Read(c, mods);
    }
  }
  void Read(Keycode c, std::uint8_t mods) {
    const XKey& key = map_.keys[c];
    if (key.levels.empty()) {
      syms.push_back(xk::kNoSymbol);  // read as no character at all
      return;
    }
    const XLevel& l = key.levels[LevelOf(key, mods)];
    if (l.ch == 0) {
      syms.push_back(l.sym);
      return;
    }
    if (mods & (xmod::kControl | xmod::kMod1 | kSuper)) ++chords;
    typed += l.ch;
  }

  XKeymap map_, original_;
  std::vector<std::pair<Keycode, std::uint8_t>> waiting_;  // a slow target's keys, with their modifiers
};

}  // namespace tarvik::lnx::testing
