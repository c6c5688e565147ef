// Turns one key token ("{TAB}", or one character of a record) into the key
// that types it on the active keyboard layout and the modifiers it needs (the
// typing policy wraps it in the user's held keys), and the policy's events
// into SendInput's: scan codes, the extended flag, Unicode packets. The
// Windows way of typing, written in portable C++ without windows.h so that
// its tests run on any system: the Windows side fills IKeyboardLayout from
// the focused thread's layout.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "keys/brace_keys.h"
#include "keys/keystroke_output.h"
#include "keys/typing_policy.h"

namespace tarvik {

// The modifiers' virtual-key codes, beside the named keys' (brace_keys.h).
namespace vk {
inline constexpr std::uint8_t kShift = 0x10, kControl = 0x11, kMenu = 0x12, kCapital = 0x14,
                              kLWin = 0x5B, kRWin = 0x5C, kLShift = 0xA0, kRShift = 0xA1,
                              kLControl = 0xA2, kRControl = 0xA3, kLMenu = 0xA4, kRMenu = 0xA5;
// Unassigned: no layout or program gives it a meaning. Pressed and released
// between an Alt (or Windows key) press and its release, it keeps that
// release from opening the menu bar (or Start).
inline constexpr std::uint8_t kMask = 0xE8;
}

// Modifier bits as VkKeyScanEx reports them in its high byte.
enum ShiftBits : std::uint8_t { kShiftBit = 1, kCtrlBit = 2, kAltBit = 4 };

struct KeyEvent {
  // Unicode: one UTF-16 unit sent as a packet (vk 0, scan = the unit).
  using Role = typing::Role;
  std::uint16_t vk = 0;
  std::uint16_t scan = 0;  // without the 0xE0 prefix; see extended
  bool up = false;
  bool extended = false;
  Role role = Role::Key;
  bool operator==(const KeyEvent&) const = default;
};

// What the layout of the focused window says about keys.
class IKeyboardLayout {
 public:
  struct Stroke {
    std::uint8_t vk;
    std::uint8_t shift;  // ShiftBits, plus any other bits the layout reports
  };
  struct Output {
    bool dead = false;     // a dead key: it would combine with the next character
    std::u32string text;   // what the stroke types, empty when nothing
  };
  virtual ~IKeyboardLayout() = default;
  // The key and modifiers that type `ch`, or nothing when the layout cannot.
  virtual std::optional<Stroke> KeyFor(char32_t ch) const = 0;
  // Scan code of a virtual key, with 0xE0 in the high byte for extended keys.
  virtual std::uint16_t ScanCode(std::uint8_t vk) const = 0;
  // What the stroke types with Caps Lock in the given state.
  virtual Output Produces(Stroke stroke, bool capsLock) const = 0;
};

// The keyboard as it stands before the key goes out.
struct KeyboardState {
  bool capsLock = false;
  // Characters go as Unicode packets: an input method would compose the
  // letter keys, or the rules say so.
  bool unicode = false;
};

// What input method the focused window's thread has active.
struct InputProfile {
  enum class Kind : std::uint8_t {
    kUnknown,      // the text services could not be asked, or answered for another language
    kLayout,       // a keyboard layout alone
    kTextService,  // a text service (an input method of the Text Services Framework)
  };
  std::uintptr_t layout = 0;  // the thread's keyboard layout (HKL)
  Kind kind = Kind::kUnknown;
  // The open state its input method reports (IMC_GETOPENSTATUS); nothing
  // where no input method window answered in time.
  std::optional<bool> open;
};

// The layout's language has input methods that switch between composing and
// direct input (Japanese, Chinese, Korean), which their open state tells.
bool SwitchableLanguage(std::uintptr_t layout);
// The layout is an input method of the old kind (IMM), whose HKL says so.
bool InputMethodLayout(std::uintptr_t layout);

// Whether characters go as Unicode packets rather than the layout's keys:
// where the rules say which, as they say; else where something active
// composes keys. An open input method does. A text service does, unless it
// is one that switches and says it is off (Japanese with direct input): a
// Vietnamese Telex, Indic phonetic or Amharic one composes while active, and
// does not keep the open state. A keyboard layout alone does not, whatever
// its language. Where the text services cannot tell, a Japanese, Chinese or
// Korean layout (or an IMM one) is taken to compose unless it says it is off.
bool SendsUnicode(const InputProfile& profile, KeyMode mode);

bool IsModifier(std::uint8_t vk);
// Alt and Win: a press and release with no key between opens a menu or Start.
bool NeedsMask(std::uint8_t vk);

// Keys as the typing policy numbers them: the virtual key in the low byte,
// its scan code (0xE0 prefix in the high byte) above it. A Unicode event's
// key is its UTF-16 unit.
typing::KeyId WinKeyId(std::uint8_t vk, std::uint16_t scanWithPrefix);
// A modifier key (kLShift ... kRWin) with its scan code.
typing::KeyId ModifierKeyId(std::uint8_t vk);
KeyEvent ToKeyEvent(const typing::Event& e);
std::vector<KeyEvent> ToKeyEvents(std::span<const typing::Event> events);

// Shift, Ctrl, Alt and the Windows keys as the policy asks about them: the
// ShiftBits they set (the Windows keys a bit of their own, which no
// character needs), Alt and Win acting when tapped, kMask between.
class WinModifierKeys : public typing::IModifierKeys {
 public:
  std::optional<typing::ModifierKey> Modifier(typing::KeyId key) const override;
  std::optional<typing::KeyId> MaskKey() const override;
};

// The key for one key token. A brace token from the option lists is its one
// key; any other text is its first character (a record hands over one at a
// time). Control characters type nothing, except HT which types Tab. A
// character is typed with the layout's own keys where that types exactly it
// and is no shortcut chord; otherwise it goes as a Unicode packet. AltGr is
// left Ctrl + right Alt, as Windows' layouts expect; other modifiers are the
// left-hand keys.
typing::Stroke PlanKeyStroke(std::string_view token, const IKeyboardLayout& layout,
                             const KeyboardState& state);

}  // namespace tarvik
