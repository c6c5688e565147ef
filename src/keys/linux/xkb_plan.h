// Turns one key token into the X key that types it, from the keyboard mapping
// as data: the keycode and shift level that give the character and the Shift,
// AltGr or Control it needs (the typing policy wraps it in the user's held
// keys). No X header here: the X side fills XKeymap from the server, the
// tests from tables.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "keys/typing_policy.h"

namespace tarvik::lnx {

using Keysym = std::uint32_t;
using Keycode = std::uint8_t;

// Keysyms as X numbers them.
namespace xk {
inline constexpr Keysym kNoSymbol = 0, kBackSpace = 0xFF08, kTab = 0xFF09, kReturn = 0xFF0D,
                        kEscape = 0xFF1B, kHome = 0xFF50, kLeft = 0xFF51, kUp = 0xFF52,
                        kRight = 0xFF53, kDown = 0xFF54, kNext = 0xFF56, kEnd = 0xFF57,
                        kBreak = 0xFF6B, kF1 = 0xFFBE, kF12 = 0xFFC9;
// The numeric keypad's keysyms (KP_Space ... KP_9).
inline constexpr Keysym kKeypadFirst = 0xFF80, kKeypadLast = 0xFFBD;
// Latin-1 characters are their own keysyms; every other character is this
// offset plus its code point.
inline constexpr Keysym kUnicodeOffset = 0x01000000;
inline constexpr char32_t kLatin1Last = 0xFF;
}  // namespace xk

// Modifier masks as X numbers them.
namespace xmod {
inline constexpr std::uint8_t kShift = 1 << 0, kLock = 1 << 1, kControl = 1 << 2,
                              kMod1 = 1 << 3, kMod2 = 1 << 4, kMod5 = 1 << 7;
}

// One shift level of a key: its keysym and the character that keysym types
// (0 when it types none: a function key, a dead key).
struct XLevel {
  Keysym sym = xk::kNoSymbol;
  char32_t ch = 0;
  bool operator==(const XLevel&) const = default;
};

// One key in the active group, as XKB's key type describes it: the level is
// the one whose modifier combination equals the state's modifiers within
// typeMods; any other combination gives the first level.
struct XKey {
  std::vector<XLevel> levels;
  std::uint8_t typeMods = 0;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> levelFor;  // modifiers -> level index
  bool operator==(const XKey&) const = default;
};

// A key that sets a modifier while held (Shift, Control, Alt, Super, AltGr);
// lock keys are not among them.
struct ModifierKey {
  Keycode code = 0;
  std::uint8_t mask = 0;
  // Alt, Meta, Super, Hyper: pressed and released with no key between, they
  // act (a menu bar, the desktop's overview).
  bool tapActs = false;
};

inline constexpr std::size_t kKeyCodes = 256;

struct XKeymap {
  std::array<XKey, kKeyCodes> keys{};
  std::vector<ModifierKey> modifiers;
  Keycode shift = 0;    // a Shift_L key; 0 when there is none
  Keycode control = 0;  // a Control_L key
  Keycode level3 = 0;   // an ISO_Level3_Shift (AltGr) key
  std::uint8_t level3Mask = 0;  // the modifier it sets, Mod5 as a rule
  // A keycode with no keysym and no modifier: tapped between an Alt or
  // Super press and its release, it keeps that release from acting.
  Keycode mask = 0;
  // Further keycodes with no keysym, free to bind a missing character to.
  std::vector<Keycode> spare;
};

// The keyboard as it stands before the key goes out.
struct XKeyboardState {
  // Locked and latched modifiers (Caps Lock, Num Lock): they apply to our key too.
  std::uint8_t locked = 0;
  // Modifier keys down as the server sees them.
  std::vector<Keycode> held;
};

struct XKeyAction {
  using Role = typing::Role;  // never Unicode here
  Keycode code = 0;
  bool down = true;
  Role role = Role::Key;
  bool operator==(const XKeyAction&) const = default;
};

struct XStroke {
  typing::Stroke stroke;  // keys are keycodes, modifiers X's masks
  // The mapping has no key for this keysym: bind it to a spare keycode, then
  // plan again. No stroke then.
  Keysym missing = xk::kNoSymbol;
};

// The modifier keys of a mapping as the typing policy asks about them.
class XModifierKeys : public typing::IModifierKeys {
 public:
  explicit XModifierKeys(const XKeymap& map) : map_(map) {}
  std::optional<typing::ModifierKey> Modifier(typing::KeyId key) const override;
  std::optional<typing::KeyId> MaskKey() const override;

 private:
  const XKeymap& map_;
};

std::vector<XKeyAction> ToXKeyActions(std::span<const typing::Event> events);

// The keysym of a brace token from the key lists, if it is one.
std::optional<Keysym> BraceKeysym(std::string_view token);
// The keysym that types a character: Tab for HT, none for other control characters.
Keysym KeysymFor(char32_t ch);
// The level a key gives with these modifiers in effect.
std::size_t LevelOf(const XKey& key, std::uint8_t mods);

// The key for one key token: a brace token is its one key, any other text
// its first character, with the modifiers `locked` (Caps Lock, Num Lock) in
// effect. Control characters type nothing, except HT, which types Tab. No
// character is typed as a chord: Shift and AltGr only.
XStroke PlanXStroke(std::string_view token, const XKeymap& map, std::uint8_t locked);

// The whole of one token's events as the typing policy sends them, around
// the modifier keys held in `state`: for tests and tools that look at a plan.
struct XKeyPlan {
  std::vector<XKeyAction> events;
  std::vector<Keycode> restore;  // the user's keys to press again if still held
  Keysym missing = xk::kNoSymbol;
};
XKeyPlan PlanXKeys(std::string_view token, const XKeymap& map, const XKeyboardState& state);

}  // namespace tarvik::lnx
