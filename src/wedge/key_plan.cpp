#include "wedge/key_plan.h"

#include <algorithm>
#include <array>

#include "core/utf8.h"
#include "wedge/keystroke_output.h"

namespace tarvik {
namespace {

struct NamedKey {
  std::string_view token;
  BraceKey key;
};

// The function key Fn.
constexpr std::uint8_t F(int n) { return static_cast<std::uint8_t>(vk::kF1 + n - 1); }
static_assert(F(12) == vk::kF12);

// Scan codes of these keys are the same on every layout. The navigation keys
// and Break carry the 0xE0 prefix: without the extended flag the arrows would
// act as the numeric keypad's keys.
constexpr std::array<NamedKey, 24> kBraceKeys = {{
    {"{BS}", {vk::kBack, 0x0E, false}},      {"{BREAK}", {vk::kCancel, 0xE046, true}},
    {"{DOWN}", {vk::kDown, 0xE050, false}},  {"{END}", {vk::kEnd, 0xE04F, false}},
    {"{ENTER}", {vk::kReturn, 0x1C, false}}, {"{ESC}", {vk::kEscape, 0x01, false}},
    {"{HOME}", {vk::kHome, 0xE047, false}},  {"{LEFT}", {vk::kLeft, 0xE04B, false}},
    {"{PGDN}", {vk::kNext, 0xE051, false}},  {"{RIGHT}", {vk::kRight, 0xE04D, false}},
    {"{TAB}", {vk::kTab, 0x0F, false}},      {"{UP}", {vk::kUp, 0xE048, false}},
    {"{F1}", {F(1), 0x3B, false}},           {"{F2}", {F(2), 0x3C, false}},
    {"{F3}", {F(3), 0x3D, false}},           {"{F4}", {F(4), 0x3E, false}},
    {"{F5}", {F(5), 0x3F, false}},           {"{F6}", {F(6), 0x40, false}},
    {"{F7}", {F(7), 0x41, false}},           {"{F8}", {F(8), 0x42, false}},
    {"{F9}", {F(9), 0x43, false}},           {"{F10}", {F(10), 0x44, false}},
    {"{F11}", {F(11), 0x57, false}},         {"{F12}", {F(12), 0x58, false}},
}};

enum class Kind { Shift, Ctrl, Alt, Win };

Kind KindOf(std::uint8_t v) {
  switch (v) {
    case vk::kLShift: case vk::kRShift: return Kind::Shift;
    case vk::kLControl: case vk::kRControl: return Kind::Ctrl;
    case vk::kLMenu: case vk::kRMenu: return Kind::Alt;
    default: return Kind::Win;
  }
}

std::uint16_t ModifierScan(std::uint8_t v) {
  switch (v) {
    case vk::kLShift: return 0x2A;
    case vk::kRShift: return 0x36;
    case vk::kLControl: return 0x1D;
    case vk::kRControl: return 0xE01D;
    case vk::kLMenu: return 0x38;
    case vk::kRMenu: return 0xE038;
    case vk::kLWin: return 0xE05B;
    default: return 0xE05C;  // kRWin
  }
}

KeyEvent Make(std::uint8_t v, std::uint16_t scanWithPrefix, bool up, KeyEvent::Role role) {
  return KeyEvent{v, static_cast<std::uint16_t>(scanWithPrefix & 0xFF), up,
                  (scanWithPrefix >> 8) == 0xE0, role};
}

std::vector<KeyEvent> MaskTap() {
  return {KeyEvent{vk::kMask, 0, false, false, KeyEvent::Role::Mask},
          KeyEvent{vk::kMask, 0, true, false, KeyEvent::Role::Mask}};
}

void Append(std::vector<KeyEvent>& to, const std::vector<KeyEvent>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// Wraps `body` (the key itself) in the modifiers it needs: the user's held
// modifiers that it does not want are let go first (and pressed again after,
// by RestoreEvents), the wanted ones not already held are pressed around it.
// Left-hand keys are used, except AltGr, which Windows' layouts expect as
// left Ctrl + right Alt.
KeyPlan Wrap(const std::vector<KeyEvent>& body, std::uint8_t wanted, const KeyboardState& st) {
  const bool altGr = (wanted & (kCtrlBit | kAltBit)) == (kCtrlBit | kAltBit);
  auto wants = [&](Kind k) {
    return (k == Kind::Shift && (wanted & kShiftBit)) || (k == Kind::Ctrl && (wanted & kCtrlBit)) ||
           (k == Kind::Alt && (wanted & kAltBit));
  };
  std::vector<std::uint8_t> release;
  bool haveShift = false, haveCtrl = false, haveAlt = false;
  for (std::uint8_t h : st.held) {
    const Kind k = KindOf(h);
    if (!wants(k)) {
      release.push_back(h);
      continue;
    }
    haveShift |= k == Kind::Shift;
    haveCtrl |= k == Kind::Ctrl;
    haveAlt |= k == Kind::Alt;
  }
  std::vector<std::uint8_t> press;
  if ((wanted & kCtrlBit) && !haveCtrl) press.push_back(vk::kLControl);
  if ((wanted & kAltBit) && !haveAlt) press.push_back(altGr ? vk::kRMenu : vk::kLMenu);
  if ((wanted & kShiftBit) && !haveShift) press.push_back(vk::kLShift);

  KeyPlan plan;
  auto& ev = plan.events;
  Append(ev, ReleaseEvents(release));
  for (auto v : press) ev.push_back(Make(v, ModifierScan(v), false, KeyEvent::Role::Modifier));
  Append(ev, body);
  for (auto it = press.rbegin(); it != press.rend(); ++it)
    ev.push_back(Make(*it, ModifierScan(*it), true, KeyEvent::Role::Modifier));
  plan.restore.assign(release.rbegin(), release.rend());
  return plan;
}

std::vector<KeyEvent> Tap(std::uint8_t v, std::uint16_t scanWithPrefix) {
  return {Make(v, scanWithPrefix, false, KeyEvent::Role::Key),
          Make(v, scanWithPrefix, true, KeyEvent::Role::Key)};
}

KeyPlan UnicodePlan(char32_t ch, const KeyboardState& st) {
  std::vector<KeyEvent> body;
  for (char16_t unit : ToUtf16(ch)) {
    body.push_back(KeyEvent{0, unit, false, false, KeyEvent::Role::Unicode});
    body.push_back(KeyEvent{0, unit, true, false, KeyEvent::Role::Unicode});
  }
  return Wrap(body, 0, st);
}

KeyPlan CharacterPlan(char32_t ch, const IKeyboardLayout& layout, const KeyboardState& st) {
  if (ch == U'\t') return Wrap(Tap(vk::kTab, 0x0F), 0, st);
  if (ch < 0x20 || ch == 0x7F) return {};
  // An open input method would compose the letter keys instead of typing them.
  if (st.imeOpen) return UnicodePlan(ch, st);

  const auto stroke = layout.KeyFor(ch);
  if (!stroke || stroke->vk == 0) return UnicodePlan(ch, st);
  std::uint8_t shift = stroke->shift;
  // Bits beyond Shift/Ctrl/Alt are Kana and OEM states SendInput cannot set.
  if (shift & ~(kShiftBit | kCtrlBit | kAltBit)) return UnicodePlan(ch, st);
  // Ctrl or Alt alone would be a shortcut chord (Ctrl+W, Alt+F4...), never
  // a character; Ctrl and Alt together is AltGr.
  const bool ctrl = shift & kCtrlBit, alt = shift & kAltBit;
  if (ctrl != alt) return UnicodePlan(ch, st);

  // The layout's answer ignores Caps Lock; check what the stroke really types
  // now and flip Shift where Caps Lock inverts it.
  IKeyboardLayout::Stroke s{stroke->vk, shift};
  auto out = layout.Produces(s, st.capsLock);
  if (out.dead) return UnicodePlan(ch, st);
  if (out.text != std::u32string(1, ch)) {
    IKeyboardLayout::Stroke flipped{stroke->vk, static_cast<std::uint8_t>(shift ^ kShiftBit)};
    const auto alt2 = layout.Produces(flipped, st.capsLock);
    if (alt2.dead || alt2.text != std::u32string(1, ch)) return UnicodePlan(ch, st);
    s = flipped;
  }
  return Wrap(Tap(s.vk, layout.ScanCode(s.vk)), s.shift, st);
}

}  // namespace

bool IsModifier(std::uint8_t v) {
  return v == vk::kLShift || v == vk::kRShift || v == vk::kLControl || v == vk::kRControl ||
         v == vk::kLMenu || v == vk::kRMenu || v == vk::kLWin || v == vk::kRWin;
}

bool NeedsMask(std::uint8_t v) {
  return v == vk::kLMenu || v == vk::kRMenu || v == vk::kLWin || v == vk::kRWin;
}

std::vector<KeyEvent> RestoreEvents(const std::vector<std::uint8_t>& modifiers) {
  std::vector<KeyEvent> out;
  for (auto v : modifiers) {
    out.push_back(Make(v, ModifierScan(v), false, KeyEvent::Role::UserRestore));
    // The user's own release of this key comes later, with nothing of ours
    // after it: the mask stands between.
    if (NeedsMask(v)) Append(out, MaskTap());
  }
  return out;
}

std::vector<KeyEvent> ReleaseEvents(const std::vector<std::uint8_t>& modifiers) {
  std::vector<KeyEvent> out;
  for (auto v : modifiers) {
    if (NeedsMask(v)) Append(out, MaskTap());
    out.push_back(Make(v, ModifierScan(v), true, KeyEvent::Role::UserRelease));
  }
  return out;
}

std::vector<std::string_view> BraceTokens() {
  std::vector<std::string_view> tokens;
  for (const auto& k : kBraceKeys) tokens.push_back(k.token);
  return tokens;
}

std::optional<BraceKey> FindBraceKey(std::string_view token) {
  for (const auto& k : kBraceKeys)
    if (k.token == token) return k.key;
  return std::nullopt;
}

KeyPlan PlanKeyTokens(std::string_view token, const IKeyboardLayout& layout,
                      const KeyboardState& st) {
  if (const auto brace = FindBraceKey(token)) {
    return Wrap(Tap(brace->vk, brace->scan), brace->withCtrl ? kCtrlBit : 0, st);
  }
  // The character itself, whatever the layout has: a control character the
  // rules send as such, never a Ctrl chord.
  if (const auto unicode = ParseUnicodeToken(token)) return UnicodePlan(*unicode, st);
  const auto chars = DecodeUtf8(token);
  if (chars.empty()) return {};
  return CharacterPlan(chars.front(), layout, st);
}

std::vector<KeyEvent> ReleasesAfterPartialSend(const KeyPlan& plan, std::size_t inserted) {
  std::vector<KeyEvent> down;  // modifiers of ours the inserted part left pressed
  for (std::size_t i = 0; i < inserted && i < plan.events.size(); ++i) {
    const auto& e = plan.events[i];
    if (e.role != KeyEvent::Role::Modifier && e.role != KeyEvent::Role::Key &&
        e.role != KeyEvent::Role::Mask)
      continue;
    auto same = [&](const KeyEvent& d) { return d.vk == e.vk; };
    if (!e.up) {
      if (std::none_of(down.begin(), down.end(), same)) down.push_back(e);
    } else {
      down.erase(std::remove_if(down.begin(), down.end(), same), down.end());
    }
  }
  std::vector<KeyEvent> out;
  for (auto it = down.rbegin(); it != down.rend(); ++it) {
    KeyEvent up = *it;
    up.up = true;
    out.push_back(up);
  }
  return out;
}

}  // namespace tarvik
