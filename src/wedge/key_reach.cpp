#include "wedge/key_reach.h"

namespace tarvik {

Reach DecideReach(const KeyTarget& t) {
  if (!t.inputDesktopIsOurs) return {Unreachable::kLocked, {}};
  if (!t.hasForeground) return {Unreachable::kNoFocus, {}};
  if (!t.targetIntegrity || *t.targetIntegrity > t.ownIntegrity)
    return {Unreachable::kElevated, t.program};
  return {};
}

std::string UnreachableMessage(const Reach& r) {
  const std::string who = r.program.empty() ? "the program in front" : r.program;
  switch (r.why) {
    case Unreachable::kNone:
      return {};
    case Unreachable::kLocked:
      return "A scan was not typed: the computer is locked or a secure screen is open.";
    case Unreachable::kNoFocus:
      return "A scan was not typed: no window has the keyboard focus.";
    case Unreachable::kElevated:
      return "A scan was not typed: " + who +
             " runs as administrator and does not take keys from Tarvik.";
    case Unreachable::kRefused:
      return "A scan was not typed in full: the system refused the keys.";
    case Unreachable::kUntypeable:
      return "A scan was not typed: Tarvik cannot type one of its characters here.";
    case Unreachable::kNotAllowed:
      return r.detail.empty() ? "A scan was not typed: the desktop does not let Tarvik type now."
                              : "A scan was not typed: " + r.detail + ".";
  }
  return {};
}

std::string_view UnreachableReason(Unreachable why) {
  switch (why) {
    case Unreachable::kNone: return "typed";
    case Unreachable::kLocked: return "locked or secure desktop";
    case Unreachable::kNoFocus: return "no focused window";
    case Unreachable::kElevated: return "target runs at a higher integrity level";
    case Unreachable::kRefused: return "keys refused";
    case Unreachable::kUntypeable: return "a character the keyboard here cannot type";
    case Unreachable::kNotAllowed: return "the desktop does not let keys be typed now";
  }
  return "unknown";
}

}  // namespace tarvik
