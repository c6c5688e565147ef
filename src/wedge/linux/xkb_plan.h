// Turns one key token into the X key events that type it, from the keyboard
// mapping as data: the keycode and shift level that give the character, the
// Shift and AltGr presses around it, and the user's held modifiers let go for
// it. No X header here: the X side fills XKeymap from the server, the tests
// from tables.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

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
  enum class Role : std::uint8_t {
    Key,          // the key that types the character or token
    Modifier,     // Shift, AltGr or Control pressed (or released) for this key
    UserRelease,  // a modifier the user holds, let go for the key
    UserRestore,  // that modifier pressed again afterwards
    Mask,         // the spare key that keeps an Alt or Super release inert
  };
  Keycode code = 0;
  bool down = true;
  Role role = Role::Key;
  bool operator==(const XKeyAction&) const = default;
};

struct XKeyPlan {
  std::vector<XKeyAction> events;
  // The user's modifiers let go for the key, to press again afterwards, each
  // only if the user still holds it then.
  std::vector<Keycode> restore;
  // The mapping has no key for this keysym: bind it to a spare keycode, then
  // plan again. No events then.
  Keysym missing = xk::kNoSymbol;
};

// The keysym of a brace token from the key lists, if it is one.
std::optional<Keysym> BraceKeysym(std::string_view token);
// The keysym that types a character: Tab for HT, none for other control characters.
Keysym KeysymFor(char32_t ch);
// The level a key gives with these modifiers in effect.
std::size_t LevelOf(const XKey& key, std::uint8_t mods);

// The plan for one key token: a brace token is its one key, any other text
// its first character. Control characters type nothing, except HT, which
// types Tab. No character is typed as a chord: Shift and AltGr only, and a
// user's Ctrl, Alt or Super is let go first.
XKeyPlan PlanXKeys(std::string_view token, const XKeymap& map, const XKeyboardState& state);

// Lets the user's modifiers go, an Alt or Super after the mask key.
std::vector<XKeyAction> ReleaseUserKeys(const XKeymap& map, const std::vector<Keycode>& keys);
// Presses them again, in the order given, an Alt or Super followed by the mask key.
std::vector<XKeyAction> RestoreUserKeys(const XKeymap& map, const std::vector<Keycode>& keys);
// When the server refused a plan part-way: releases of every key of ours in it.
std::vector<XKeyAction> ReleasesAfterFailure(const XKeyPlan& plan);

}  // namespace tarvik::lnx
