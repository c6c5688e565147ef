// Keyboard layouts as tables, for the character-to-keys decision: a US and a
// German layout with the few keys the tests need. Caps Lock inverts Shift on
// letter keys only, as the real layouts' CAPLOK attribute does.
#pragma once
#include <map>
#include <set>
#include <utility>

#include "wedge/key_plan.h"

namespace tarvik::testing {

class FakeLayout : public IKeyboardLayout {
 public:
  void Key(char32_t ch, std::uint8_t vkey, std::uint8_t shift, std::uint16_t scan) {
    byChar_[ch] = {vkey, shift};
    byStroke_[{vkey, shift}] = ch;
    scans_[vkey] = scan;
  }
  void Dead(char32_t ch, std::uint8_t vkey, std::uint8_t shift, std::uint16_t scan) {
    Key(ch, vkey, shift, scan);
    dead_.insert({vkey, shift});
  }

  std::optional<Stroke> KeyFor(char32_t ch) const override {
    auto it = byChar_.find(ch);
    if (it == byChar_.end()) return std::nullopt;
    return Stroke{it->second.first, it->second.second};
  }
  std::uint16_t ScanCode(std::uint8_t vkey) const override {
    auto it = scans_.find(vkey);
    return it == scans_.end() ? 0 : it->second;
  }
  Output Produces(Stroke s, bool capsLock) const override {
    std::uint8_t shift = s.shift;
    if (capsLock && s.vk >= 'A' && s.vk <= 'Z') shift ^= kShiftBit;
    if (dead_.count({s.vk, shift})) return {true, {}};
    auto it = byStroke_.find({s.vk, shift});
    if (it == byStroke_.end()) return {};
    return {false, std::u32string(1, it->second)};
  }

 private:
  std::map<char32_t, std::pair<std::uint8_t, std::uint8_t>> byChar_;
  std::map<std::pair<std::uint8_t, std::uint8_t>, char32_t> byStroke_;
  std::set<std::pair<std::uint8_t, std::uint8_t>> dead_;
  std::map<std::uint8_t, std::uint16_t> scans_;
};

inline FakeLayout UsLayout() {
  FakeLayout l;
  l.Key(U'a', 'A', 0, 0x1E); l.Key(U'A', 'A', 1, 0x1E);
  l.Key(U'b', 'B', 0, 0x30); l.Key(U'B', 'B', 1, 0x30);
  l.Key(U'y', 'Y', 0, 0x15); l.Key(U'Y', 'Y', 1, 0x15);
  l.Key(U'z', 'Z', 0, 0x2C); l.Key(U'Z', 'Z', 1, 0x2C);
  l.Key(U'w', 'W', 0, 0x11); l.Key(U'W', 'W', 1, 0x11);
  l.Key(U'1', '1', 0, 0x02); l.Key(U'!', '1', 1, 0x02);
  l.Key(U'2', '2', 0, 0x03); l.Key(U'@', '2', 1, 0x03);
  l.Key(U'6', '6', 0, 0x07); l.Key(U'^', '6', 1, 0x07);
  l.Key(U'+', 0xBB, 1, 0x0D); l.Key(U'=', 0xBB, 0, 0x0D);
  l.Key(U'{', 0xDB, 1, 0x1A); l.Key(U'[', 0xDB, 0, 0x1A);
  // Control characters as VkKeyScan reports them: Ctrl chords.
  l.Key(char32_t(0x17), 'W', kCtrlBit, 0x11);
  return l;
}

inline FakeLayout GermanLayout() {
  FakeLayout l;
  l.Key(U'z', 'Y', 0, 0x15); l.Key(U'Z', 'Y', 1, 0x15);  // Z sits where US has Y
  l.Key(U'y', 'Z', 0, 0x2C); l.Key(U'Y', 'Z', 1, 0x2C);
  l.Key(U'e', 'E', 0, 0x12); l.Key(U'E', 'E', 1, 0x12);
  l.Key(U'q', 'Q', 0, 0x10); l.Key(U'Q', 'Q', 1, 0x10);
  l.Key(U'@', 'Q', kCtrlBit | kAltBit, 0x10);             // AltGr+Q
  l.Key(U'\u20AC', 'E', kCtrlBit | kAltBit, 0x12);        // AltGr+E
  l.Key(U'\u00DF', 0xDB, 0, 0x0C);                         // sharp s: own key
  l.Dead(U'^', 0xDC, 0, 0x29);                             // circumflex is a dead key
  l.Key(U'2', '2', 0, 0x03); l.Key(U'"', '2', 1, 0x03);
  return l;
}

}  // namespace tarvik::testing
