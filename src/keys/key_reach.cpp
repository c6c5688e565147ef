#include "keys/key_reach.h"

#include <utility>

namespace tarvik {

Reach DecideReach(const KeyTarget& t) {
  if (!t.inputDesktopIsOurs) return {Unreachable::kLocked, {}, t.lockedBy};
  if (!t.hasForeground) return {Unreachable::kNoFocus, {}};
  if (t.targetIntegrity) {
    if (*t.targetIntegrity > t.ownIntegrity) return {Unreachable::kElevated, t.program};
    return {};
  }
  if (!t.takesMessages) return {Unreachable::kCannotTell, t.program};
  if (!*t.takesMessages) return {Unreachable::kElevated, t.program};
  return {};
}

LockVerdict DecideLock(const std::vector<LockReading>& readings) {
  LockVerdict v;
  std::string unknown;
  for (const LockReading& r : readings) {
    switch (r.word) {
      case LockWord::kLocked:
        return {LockState::kLocked, r.source};
      case LockWord::kUnlocked:
        v.state = LockState::kUnlocked;
        break;
      case LockWord::kUnknown:
        unknown += (unknown.empty() ? "" : "; ") + r.source + (r.why.empty() ? "" : ": " + r.why);
        break;
    }
  }
  if (v.state == LockState::kUnknown) v.by = unknown.empty() ? "nothing to ask" : unknown;
  return v;
}

LockVerdict LockGuardedTarget::Ask() const {
  const LockVerdict v = DecideLock(sources_.Read());
  if (v.state != LockState::kUnknown) {
    unknownLogged_ = false;
    return v;
  }
  if (!std::exchange(unknownLogged_, true))
    log_.Event("Session lock: cannot be known (" + v.by + "); scans are typed" +
               (mustKnow_ ? ", and the user is told" : ""));
  if (mustKnow_ && !std::exchange(told_, true)) notice_.Warn(kLockUnknownNotice);
  return v;
}

KeyTarget LockGuardedTarget::Query() const {
  KeyTarget t = inner_.Query();
  if (const LockVerdict v = Ask(); v.state == LockState::kLocked) {
    t.inputDesktopIsOurs = false;
    t.lockedBy = v.by;
  }
  return t;
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
    case Unreachable::kCannotTell:
      return "A scan was not typed: Tarvik cannot tell whether " + who + " takes keys from it.";
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
    case Unreachable::kCannotTell: return "cannot tell whether the target takes our keys";
    case Unreachable::kRefused: return "keys refused";
    case Unreachable::kUntypeable: return "a character the keyboard here cannot type";
    case Unreachable::kNotAllowed: return "the desktop does not let keys be typed now";
  }
  return "unknown";
}

}  // namespace tarvik
