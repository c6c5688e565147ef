// How a key goes out around the keys already down, for every way of typing
// (SendInput, XTest, and whatever else fills the seam below): the user's
// modifiers that would turn the key into a chord are let go first and pressed
// again afterwards only if the user still holds them then; an Alt or Super
// (Windows) key is never released, by us or later by the user, straight after
// its press, or it would open a menu bar or Start: a key with no meaning is
// tapped between; the modifiers the key needs (Shift, AltGr, Control for
// Break) are pressed around it and always released; when the system refuses
// events part-way, every key of ours that may be down goes up; at a record's
// end no modifier stays down that the user's fingers do not hold.
//
// Keys are numbers whose meaning belongs to the platform (a keycode, a
// virtual key with its scan code), modifiers are bit masks of its own; which
// key and which modifiers type a character is the platform planner's
// answer, given here as a Stroke. No platform header.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarvik::typing {

using KeyId = std::uint32_t;
using ModMask = std::uint32_t;

enum class Role : std::uint8_t {
  Key,          // the key that types the character or token
  Modifier,     // a modifier pressed (or released) for this key
  UserRelease,  // a modifier the user holds, let go for the duration of the key
  UserRestore,  // that modifier pressed again afterwards
  Mask,         // the key with no meaning that keeps an Alt or Super release inert
  Unicode,      // a character sent as itself, no key (key: the UTF-16 unit)
};

struct Event {
  KeyId key = 0;
  bool down = true;
  Role role = Role::Key;
  bool operator==(const Event&) const = default;
};

// A modifier the key needs, and the key that sets it.
struct ModifierPress {
  ModMask mask = 0;
  KeyId key = 0;
  bool operator==(const ModifierPress&) const = default;
};

// What the planner found for one token.
struct Stroke {
  std::vector<Event> body;  // the key's press and release; empty: nothing to type
  ModMask needs = 0;        // every modifier that must be in effect for it
  // The keys that set those modifiers, in the order to press them; each is
  // pressed unless a key the user holds already sets its modifier.
  std::vector<ModifierPress> presses;
  bool operator==(const Stroke&) const = default;
};

struct ModifierKey {
  ModMask mask = 0;  // the modifiers it sets; 0 when it sets none of the planner's
  // Alt, Super, Meta, Hyper: pressed and released with no key between, it acts.
  bool tapActs = false;
};

// What the platform says about its modifier keys.
class IModifierKeys {
 public:
  virtual ~IModifierKeys() = default;
  // The modifier a key is; nothing for any other key.
  virtual std::optional<ModifierKey> Modifier(KeyId key) const = 0;
  // A key that types nothing and sets nothing; nothing when there is none.
  virtual std::optional<KeyId> MaskKey() const = 0;
};

// The keyboard the policy types on.
class IKeys : public IModifierKeys {
 public:
  // Send's answer when the system refused some events and cannot say which.
  static constexpr std::size_t kTakenUnknown = static_cast<std::size_t>(-1);
  // The modifier keys under the user's fingers; nothing when that cannot be told.
  virtual std::optional<std::vector<KeyId>> PhysicallyHeld() = 0;
  // In order, nothing the user types falling between. Returns how many the
  // system took: all of them, fewer, or kTakenUnknown.
  virtual std::size_t Send(std::span<const Event> events) = 0;
};

// One key's events around the modifier keys down now (`held`, as the target
// sees them), and the user's keys let go for it, to press again afterwards.
struct WrappedKey {
  std::vector<Event> events;
  std::vector<KeyId> restore;  // in the order to press them again
  bool operator==(const WrappedKey&) const = default;
};
WrappedKey Wrap(const Stroke& stroke, std::span<const KeyId> held, const IModifierKeys& keys);

// Lets the user's modifiers go, an Alt or Super after the mask key.
std::vector<Event> LetGo(std::span<const KeyId> held, const IModifierKeys& keys);
// Presses them again, in the order given, an Alt or Super followed by the mask key.
std::vector<Event> PressAgain(std::span<const KeyId> held, const IModifierKeys& keys);
// The releases that leave no key of ours down after the system took only the
// first `taken` of `sent` (kTakenUnknown: any number of them), latest first.
std::vector<Event> UndoAfterRefusal(std::span<const Event> sent, std::size_t taken);

// Types one stroke with the modifier keys `held` down now. False when the
// system refused its events part-way: our keys are up again, and nothing
// more of the record should go.
bool TypeStroke(IKeys& keys, const Stroke& stroke, std::span<const KeyId> held);
// At a record's end: modifiers down for the target (`held`) that no finger
// holds go up. Where the fingers cannot be told, nothing is released.
void ReleaseStrays(IKeys& keys, std::span<const KeyId> held);

}  // namespace tarvik::typing
