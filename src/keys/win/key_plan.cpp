#include "keys/win/key_plan.h"

#include "core/utf8.h"
#include "keys/keystroke_output.h"

namespace tarvik {
namespace {

// The Windows keys' bit beside ShiftBits: no character needs it, so a held
// Windows key is always let go.
constexpr typing::ModMask kWinBit = 8;
constexpr int kScanShift = 8;
constexpr std::uint16_t kExtendedPrefix = 0xE0;
constexpr std::uint32_t kByte = 0xFF;
// An HKL: the language id in its low word, its primary language in the low
// ten bits; in the high word a device or layout id, 0xE0nn for an IMM input method.
constexpr std::uintptr_t kPrimaryLanguageMask = 0x3FF;
constexpr std::uintptr_t kJapanese = 0x11, kChinese = 0x04, kKorean = 0x12;
constexpr int kLayoutIdShift = 28;
constexpr std::uintptr_t kLayoutKindMask = 0xF, kInputMethodLayoutKind = 0xE;

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

using Body = std::vector<typing::Event>;

Body Tap(std::uint8_t v, std::uint16_t scanWithPrefix) {
  const typing::KeyId key = WinKeyId(v, scanWithPrefix);
  return {{key, true, typing::Role::Key}, {key, false, typing::Role::Key}};
}

// The key and the modifiers it needs, pressed with the left-hand keys,
// except AltGr, which Windows' layouts expect as left Ctrl + right Alt.
typing::Stroke Needing(Body body, std::uint8_t wanted) {
  const bool altGr = (wanted & (kCtrlBit | kAltBit)) == (kCtrlBit | kAltBit);
  typing::Stroke s{std::move(body), wanted, {}};
  if (wanted & kCtrlBit) s.presses.push_back({kCtrlBit, ModifierKeyId(vk::kLControl)});
  if (wanted & kAltBit) s.presses.push_back({kAltBit, ModifierKeyId(altGr ? vk::kRMenu : vk::kLMenu)});
  if (wanted & kShiftBit) s.presses.push_back({kShiftBit, ModifierKeyId(vk::kLShift)});
  return s;
}

typing::Stroke UnicodeStroke(char32_t ch) {
  Body body;
  for (char16_t unit : ToUtf16(ch)) {
    body.push_back({unit, true, typing::Role::Unicode});
    body.push_back({unit, false, typing::Role::Unicode});
  }
  return Needing(std::move(body), 0);
}

typing::Stroke CharacterStroke(char32_t ch, const IKeyboardLayout& layout, const KeyboardState& st) {
  if (ch == U'\t') return Needing(Tap(vk::kTab, 0x0F), 0);
  if (ch < 0x20 || ch == 0x7F) return {};
  // An input method would compose the letter keys instead of typing them.
  if (st.unicode) return UnicodeStroke(ch);

  const auto stroke = layout.KeyFor(ch);
  if (!stroke || stroke->vk == 0) return UnicodeStroke(ch);
  std::uint8_t shift = stroke->shift;
  // Bits beyond Shift/Ctrl/Alt are Kana and OEM states SendInput cannot set.
  if (shift & ~(kShiftBit | kCtrlBit | kAltBit)) return UnicodeStroke(ch);
  // Ctrl or Alt alone would be a shortcut chord (Ctrl+W, Alt+F4...), never
  // a character; Ctrl and Alt together is AltGr.
  const bool ctrl = shift & kCtrlBit, alt = shift & kAltBit;
  if (ctrl != alt) return UnicodeStroke(ch);

  // The layout's answer ignores Caps Lock; check what the stroke really types
  // now and flip Shift where Caps Lock inverts it.
  IKeyboardLayout::Stroke s{stroke->vk, shift};
  auto out = layout.Produces(s, st.capsLock);
  if (out.dead) return UnicodeStroke(ch);
  if (out.text != std::u32string(1, ch)) {
    IKeyboardLayout::Stroke flipped{stroke->vk, static_cast<std::uint8_t>(shift ^ kShiftBit)};
    const auto alt2 = layout.Produces(flipped, st.capsLock);
    if (alt2.dead || alt2.text != std::u32string(1, ch)) return UnicodeStroke(ch);
    s = flipped;
  }
  return Needing(Tap(s.vk, layout.ScanCode(s.vk)), s.shift);
}

}  // namespace

bool SwitchableLanguage(std::uintptr_t layout) {
  switch (layout & kPrimaryLanguageMask) {
    case kJapanese:
    case kChinese:
    case kKorean:
      return true;
    default:
      return false;
  }
}

bool InputMethodLayout(std::uintptr_t layout) {
  return ((layout >> kLayoutIdShift) & kLayoutKindMask) == kInputMethodLayoutKind;
}

bool SendsUnicode(const InputProfile& p, KeyMode mode) {
  if (mode != KeyMode::kAuto) return mode == KeyMode::kUnicode;
  if (p.open == true) return true;
  const bool notOff = p.open != false;
  switch (p.kind) {
    case InputProfile::Kind::kTextService:
      return !SwitchableLanguage(p.layout) || notOff;
    case InputProfile::Kind::kLayout:
      return InputMethodLayout(p.layout) && notOff;
    case InputProfile::Kind::kUnknown:
      break;
  }
  return (SwitchableLanguage(p.layout) || InputMethodLayout(p.layout)) && notOff;
}

bool IsModifier(std::uint8_t v) {
  return v == vk::kLShift || v == vk::kRShift || v == vk::kLControl || v == vk::kRControl ||
         v == vk::kLMenu || v == vk::kRMenu || v == vk::kLWin || v == vk::kRWin;
}

bool NeedsMask(std::uint8_t v) {
  return v == vk::kLMenu || v == vk::kRMenu || v == vk::kLWin || v == vk::kRWin;
}

typing::KeyId WinKeyId(std::uint8_t v, std::uint16_t scanWithPrefix) {
  return v | static_cast<typing::KeyId>(scanWithPrefix) << kScanShift;
}

typing::KeyId ModifierKeyId(std::uint8_t v) { return WinKeyId(v, ModifierScan(v)); }

KeyEvent ToKeyEvent(const typing::Event& e) {
  if (e.role == typing::Role::Unicode)
    return KeyEvent{0, static_cast<std::uint16_t>(e.key), !e.down, false, e.role};
  const auto scan = static_cast<std::uint16_t>(e.key >> kScanShift);
  return KeyEvent{static_cast<std::uint16_t>(e.key & kByte), static_cast<std::uint16_t>(scan & kByte),
                  !e.down, (scan >> kScanShift) == kExtendedPrefix, e.role};
}

std::vector<KeyEvent> ToKeyEvents(std::span<const typing::Event> events) {
  std::vector<KeyEvent> out;
  out.reserve(events.size());
  for (const auto& e : events) out.push_back(ToKeyEvent(e));
  return out;
}

std::optional<typing::ModifierKey> WinModifierKeys::Modifier(typing::KeyId key) const {
  const auto v = static_cast<std::uint8_t>(key & kByte);
  if (!IsModifier(v)) return std::nullopt;
  typing::ModMask mask = kWinBit;
  switch (v) {
    case vk::kLShift: case vk::kRShift: mask = kShiftBit; break;
    case vk::kLControl: case vk::kRControl: mask = kCtrlBit; break;
    case vk::kLMenu: case vk::kRMenu: mask = kAltBit; break;
    default: break;
  }
  return typing::ModifierKey{mask, NeedsMask(v)};
}

std::optional<typing::KeyId> WinModifierKeys::MaskKey() const { return WinKeyId(vk::kMask, 0); }

typing::Stroke PlanKeyStroke(std::string_view token, const IKeyboardLayout& layout,
                             const KeyboardState& st) {
  if (const auto brace = FindBraceKey(token))
    return Needing(Tap(brace->vk, brace->scan), brace->withCtrl ? kCtrlBit : 0);
  // The character itself, whatever the layout has: a control character the
  // rules send as such, never a Ctrl chord.
  if (const auto unicode = ParseUnicodeToken(token)) return UnicodeStroke(*unicode);
  const auto chars = DecodeUtf8(token);
  if (chars.empty()) return {};
  return CharacterStroke(chars.front(), layout, st);
}

}  // namespace tarvik
