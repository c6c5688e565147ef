// Keyboard layouts as tables, for the character-to-keys decision: a US and a
// German layout with the few keys the tests need. Caps Lock inverts Shift on
// letter keys only, as the real layouts' CAPLOK attribute does.
//
// A keyboard that keeps every key's state as the target sees it and as the
// user's fingers hold it, across all injections and the user's own presses,
// and counts the characters that arrive as a chord.
#pragma once
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "keys/win/key_injector.h"
#include "keys/win/key_plan.h"

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

class FakeKeyboard : public IKeyboard {
 public:
  explicit FakeKeyboard(const IKeyboardLayout& layout) : layout_(&layout) {}
  // The user switches the focused window's layout (Alt+Shift).
  void Switch(const IKeyboardLayout& layout) { layout_ = &layout; }

  const IKeyboardLayout& FocusedLayout() override { return ++layoutReads, *layout_; }
  Modifiers HeldModifiers() const override {
    Modifiers m;
    m.physical.emplace();
    for (std::uint8_t v : kModifiers) {
      if (logical[v]) m.down.push_back(v);
      if (physical[v]) m.physical->push_back(v);
    }
    return m;
  }
  bool CapsLock() const override { return capsLock; }
  InputProfile FocusedInputProfile() override { return profile; }
  std::size_t Inject(std::span<const KeyEvent> events) override {
    const std::size_t take = calls++ == shortCall ? shortTake : events.size();
    const std::size_t n = std::min(take, events.size());
    for (const auto& e : events.first(n)) {
      injected.push_back(e);
      if (e.role != KeyEvent::Role::Unicode) {
        Key(static_cast<std::uint8_t>(e.vk), !e.up);
      } else if (!e.up) {  // a packet (VK_PACKET) carries the character itself
        typed += static_cast<char32_t>(e.scan);
      }
    }
    if (afterInject) afterInject(calls - 1);
    return n;
  }

  // The user's own finger on a key.
  void User(std::uint8_t vk, bool down) { physical[vk] = down, Key(vk, down); }
  // Keys down for the target that no finger holds.
  int Stray() const {
    int n = 0;
    for (int v = 0; v < 256; ++v) n += logical[v] && !physical[v];
    return n;
  }
  int Down() const { return static_cast<int>(std::count(logical.begin(), logical.end(), true)); }

  InputProfile profile{};  // a US layout alone
  bool capsLock = false;
  // The system takes only shortTake events of injection number shortCall.
  int shortCall = -1;
  std::size_t shortTake = 0;
  // Run after each injection: the user acting between the program's calls.
  std::function<void(int call)> afterInject;
  std::vector<KeyEvent> injected;
  int calls = 0;
  std::array<bool, 256> logical{}, physical{};
  std::u32string typed;  // characters the target got
  int chords = 0;        // character keys that met Ctrl, Alt or Win
  int layoutReads = 0;

 private:
  static constexpr std::uint8_t kModifiers[] = {vk::kLShift, vk::kRShift, vk::kLControl,
                                                vk::kRControl, vk::kLMenu, vk::kRMenu,
                                                vk::kLWin, vk::kRWin};
  bool Any(std::uint8_t a, std::uint8_t b) const { return logical[a] || logical[b]; }

  void Key(std::uint8_t v, bool down) {
    if (down && !IsModifier(v) && v != vk::kMask) Typed(v);
    logical[v] = down;
  }

  void Typed(std::uint8_t v) {
    const bool ctrl = Any(vk::kLControl, vk::kRControl), alt = Any(vk::kLMenu, vk::kRMenu);
    if (Any(vk::kLWin, vk::kRWin) || ctrl != alt) ++chords;  // Ctrl and Alt together: AltGr
    const std::uint8_t bits = (Any(vk::kLShift, vk::kRShift) ? kShiftBit : 0) |
                              (ctrl ? kCtrlBit : 0) | (alt ? kAltBit : 0);
    typed += layout_->Produces({v, bits}, capsLock).text;
  }

  const IKeyboardLayout* layout_;
};

}  // namespace tarvik::testing
