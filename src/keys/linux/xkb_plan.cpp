#include "keys/linux/xkb_plan.h"


#include <algorithm>

#include "core/utf8.h"
#include "keys/brace_keys.h"
#include "keys/keystroke_output.h"

namespace tarvik::lnx {
namespace {

using typing::Role;

// The first and last C1 control characters.
constexpr char32_t kC1First = 0x80, kC1Last = 0x9F;
constexpr char32_t kDelete = 0x7F, kFirstPrintable = 0x20;

struct Stroke {
  Keycode code;
  std::uint8_t press;  // the modifiers to hold for it
};

bool IsKeypad(Keysym sym) { return sym >= xk::kKeypadFirst && sym <= xk::kKeypadLast; }

const ModifierKey* FindModifier(const XKeymap& map, Keycode code) {
  for (const auto& m : map.modifiers)
    if (m.code == code) return &m;
  return nullptr;
}

// Modifier combinations to try, fewest keys first. Control only for the
// brace keys that need it (Break is Control+Pause on PC keyboards).
std::vector<std::uint8_t> Tries(const XKeymap& map, bool allowControl) {
  const std::uint8_t shift = map.shift ? xmod::kShift : 0;
  const std::uint8_t level3 = map.level3 ? map.level3Mask : 0;
  std::vector<std::uint8_t> tries{0};
  if (shift) tries.push_back(shift);
  if (level3) tries.push_back(level3);
  if (allowControl && map.control) tries.push_back(xmod::kControl);
  if (shift && level3) tries.push_back(static_cast<std::uint8_t>(shift | level3));
  return tries;
}

template <class Match>
std::optional<Stroke> FindStroke(const XKeymap& map, std::uint8_t locked, bool allowControl,
                                 Match match) {
  for (std::uint8_t press : Tries(map, allowControl)) {
    for (std::size_t code = 0; code < kKeyCodes; ++code) {
      const XKey& key = map.keys[code];
      if (key.levels.empty()) continue;
      const std::size_t level = LevelOf(key, static_cast<std::uint8_t>(press | locked));
      if (level < key.levels.size() && match(key.levels[level]))
        return Stroke{static_cast<Keycode>(code), press};
    }
  }
  return std::nullopt;
}

// The key and the modifiers to press for it: Control, then AltGr, then Shift.
typing::Stroke Needing(Stroke s, const XKeymap& map) {
  typing::Stroke out;
  out.body = {{s.code, true, Role::Key}, {s.code, false, Role::Key}};
  out.needs = s.press;
  const std::pair<std::uint8_t, Keycode> ours[] = {
      {xmod::kControl, map.control}, {map.level3Mask, map.level3}, {xmod::kShift, map.shift}};
  for (auto [bit, code] : ours)
    if (bit != 0 && (s.press & bit)) out.presses.push_back({bit, code});
  return out;
}

}  // namespace

std::optional<Keysym> BraceKeysym(std::string_view token) {
  const auto key = FindBraceKey(token);
  if (!key) return std::nullopt;
  if (key->vk >= vk::kF1 && key->vk <= vk::kF12) return xk::kF1 + (key->vk - vk::kF1);
  switch (key->vk) {
    case vk::kBack: return xk::kBackSpace;
    case vk::kCancel: return xk::kBreak;
    case vk::kDown: return xk::kDown;
    case vk::kEnd: return xk::kEnd;
    case vk::kReturn: return xk::kReturn;
    case vk::kEscape: return xk::kEscape;
    case vk::kHome: return xk::kHome;
    case vk::kLeft: return xk::kLeft;
    case vk::kNext: return xk::kNext;
    case vk::kRight: return xk::kRight;
    case vk::kTab: return xk::kTab;
    case vk::kUp: return xk::kUp;
    default: return std::nullopt;
  }
}

Keysym KeysymFor(char32_t ch) {
  if (ch == U'\t') return xk::kTab;
  if (ch < kFirstPrintable || ch == kDelete || (ch >= kC1First && ch <= kC1Last))
    return xk::kNoSymbol;
  if (ch <= xk::kLatin1Last) return ch;
  return xk::kUnicodeOffset + ch;
}

std::size_t LevelOf(const XKey& key, std::uint8_t mods) {
  const std::uint8_t relevant = mods & key.typeMods;
  for (auto [m, level] : key.levelFor)
    if (m == relevant) return level;
  return 0;
}

XStroke PlanXStroke(std::string_view token, const XKeymap& map, std::uint8_t locked) {
  if (const auto sym = BraceKeysym(token)) {
    const auto s = FindStroke(map, locked, true, [&](const XLevel& l) { return l.sym == *sym; });
    if (!s) return {{}, *sym};
    return {Needing(*s, map)};
  }
  // A Unicode token is the character itself, a control character too: its
  // keysym is the Unicode one, bound to a spare keycode like any missing one.
  const auto unicode = ParseUnicodeToken(token);
  const auto chars = unicode ? std::u32string(1, *unicode) : DecodeUtf8(token);
  if (chars.empty()) return {};
  const char32_t ch = chars.front();
  const Keysym sym = unicode && KeysymFor(ch) == xk::kNoSymbol ? xk::kUnicodeOffset + ch : KeysymFor(ch);
  if (sym == xk::kNoSymbol) return {};
  // A keypad key is never used for a character: in a terminal's application
  // keypad mode it sends an escape sequence instead. Layouts often give a
  // character a keysym of its own (EuroSign, Cyrillic_a), so the character
  // is matched as well as the keysym.
  const auto s = FindStroke(map, locked, false, [&](const XLevel& l) {
    return l.sym == sym || (ch >= kFirstPrintable && l.ch == ch && !IsKeypad(l.sym));
  });
  if (!s) return {{}, sym};
  return {Needing(*s, map)};
}

XKeyPlan PlanXKeys(std::string_view token, const XKeymap& map, const XKeyboardState& state) {
  const XStroke x = PlanXStroke(token, map, state.locked);
  const std::vector<typing::KeyId> held(state.held.begin(), state.held.end());
  const typing::WrappedKey w = typing::Wrap(x.stroke, held, XModifierKeys(map));
  XKeyPlan plan{ToXKeyActions(w.events), {}, x.missing};
  for (typing::KeyId k : w.restore) plan.restore.push_back(static_cast<Keycode>(k));
  return plan;
}

std::optional<typing::ModifierKey> XModifierKeys::Modifier(typing::KeyId key) const {
  if (key >= kKeyCodes) return std::nullopt;
  const ModifierKey* m = FindModifier(map_, static_cast<Keycode>(key));
  if (!m) return std::nullopt;
  return typing::ModifierKey{m->mask, m->tapActs};
}

std::optional<typing::KeyId> XModifierKeys::MaskKey() const {
  if (map_.mask == 0) return std::nullopt;
  return map_.mask;
}

std::vector<XKeyAction> ToXKeyActions(std::span<const typing::Event> events) {
  std::vector<XKeyAction> out;
  out.reserve(events.size());
  for (const auto& e : events) out.push_back({static_cast<Keycode>(e.key), e.down, e.role});
  return out;
}

}  // namespace tarvik::lnx
