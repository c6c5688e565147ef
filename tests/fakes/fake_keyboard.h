// A keyboard that keeps every key's state as the target sees it and as the
// user's fingers hold it, across all injections and the user's own presses,
// and counts the faults a wedge can cause: a character that arrives as a
// chord, and an Alt or Win release with no key since its press (the menu
// bar or Start opens).
#pragma once
#include <algorithm>
#include <array>
#include <functional>
#include <string>

#include "wedge/key_injector.h"

namespace tarvik::testing {

class FakeKeyboard : public IKeyboard {
 public:
  explicit FakeKeyboard(const IKeyboardLayout& layout) : layout_(layout) {}

  const IKeyboardLayout& FocusedLayout() override { return layout_; }
  Modifiers HeldModifiers() const override {
    Modifiers m;
    for (std::uint8_t v : kModifiers) {
      if (logical[v]) m.down.push_back(v);
      if (physical[v]) m.physical.push_back(v);
    }
    return m;
  }
  bool CapsLock() const override { return capsLock; }
  bool InputMethodOpen() const override { return imeOpen; }
  std::size_t Inject(std::span<const KeyEvent> events) override {
    if (beforeInject) beforeInject(calls);
    const std::size_t take = calls++ == shortCall ? shortTake : events.size();
    const std::size_t n = std::min(take, events.size());
    for (const auto& e : events.first(n)) {
      injected.push_back(e);
      if (e.role == KeyEvent::Role::UserRestore && !e.up && !physical[e.vk]) ++phantoms;
      if (e.role != KeyEvent::Role::Unicode) {
        Key(static_cast<std::uint8_t>(e.vk), !e.up, true);
      } else if (!e.up) {  // a packet is a key of its own (VK_PACKET) that carries the character
        Disarm();
        typed += static_cast<char32_t>(e.scan);
      }
    }
    if (afterInject) afterInject(calls - 1);
    return n;
  }

  // The user's own finger on a key.
  void User(std::uint8_t vk, bool down) { physical[vk] = down, Key(vk, down, false); }
  // Keys down for the target that no finger holds.
  int Stray() const {
    int n = 0;
    for (int v = 0; v < 256; ++v) n += logical[v] && !physical[v];
    return n;
  }
  int Down() const { return static_cast<int>(std::count(logical.begin(), logical.end(), true)); }

  bool imeOpen = false, capsLock = false;
  // The system takes only shortTake events of injection number shortCall.
  int shortCall = -1;
  std::size_t shortTake = 0;
  // Run around each injection: the user acting between the program's calls.
  std::function<void(int call)> beforeInject, afterInject;
  std::vector<KeyEvent> injected;
  int calls = 0;
  std::array<bool, 256> logical{}, physical{};
  std::u32string typed;  // characters the target got
  int chords = 0;        // character keys that met Ctrl, Alt or Win
  int menus = 0;         // Alt or Win releases that open a menu or Start
  int phantoms = 0;      // the user's modifiers pressed again after they let go

 private:
  static constexpr std::uint8_t kModifiers[] = {vk::kLShift, vk::kRShift, vk::kLControl,
                                                vk::kRControl, vk::kLMenu, vk::kRMenu,
                                                vk::kLWin, vk::kRWin};
  bool Any(std::uint8_t a, std::uint8_t b) const { return logical[a] || logical[b]; }

  // Any key pressed disarms the menu of every Alt and Win held.
  void Disarm() { armed_ = {}; }

  // A press and release with nothing between is the user's own business when
  // both are the user's; where either is the program's, it is a fault.
  void Key(std::uint8_t v, bool down, bool byProgram) {
    if (down) {
      Disarm();
      if (NeedsMask(v)) {
        armed_[v] = true;
        pressInjected_[v] = byProgram;
      }
      if (!IsModifier(v) && v != vk::kMask) Typed(v);
    } else if (NeedsMask(v)) {
      if (logical[v] && armed_[v] && (byProgram || pressInjected_[v])) ++menus;
      armed_[v] = false;
    }
    logical[v] = down;
  }

  void Typed(std::uint8_t v) {
    const bool ctrl = Any(vk::kLControl, vk::kRControl), alt = Any(vk::kLMenu, vk::kRMenu);
    if (Any(vk::kLWin, vk::kRWin) || ctrl != alt) ++chords;  // Ctrl and Alt together: AltGr
    const std::uint8_t bits = (Any(vk::kLShift, vk::kRShift) ? kShiftBit : 0) |
                              (ctrl ? kCtrlBit : 0) | (alt ? kAltBit : 0);
    typed += layout_.Produces({v, bits}, capsLock).text;
  }

  const IKeyboardLayout& layout_;
  std::array<bool, 256> armed_{}, pressInjected_{};
};

}  // namespace tarvik::testing
