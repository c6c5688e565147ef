// Whether the keys of a record can reach the window they are meant for. The
// system drops injected keys without a word where the input desktop is not
// the user's (locked, a UAC prompt) and where the focused program runs at a
// higher integrity level (as administrator); a reader must not be told "read
// done" for a record nobody got, and the user must hear of it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {

// What the system says about where keys would go now.
struct KeyTarget {
  bool inputDesktopIsOurs = true;  // false while locked or on a secure desktop
  bool hasForeground = true;       // a window has the keyboard's attention
  std::uint32_t ownIntegrity = 0;
  std::optional<std::uint32_t> targetIntegrity;  // none: it could not be read
  std::string program;  // the target's program file, where known
  std::string processName;  // Linux: the process's own name (comm), where it differs
  std::string title;    // the title of its top-level window, where known
};

class IKeyTarget {
 public:
  virtual ~IKeyTarget() = default;
  virtual KeyTarget Query() const = 0;
};

enum class Unreachable {
  kNone,
  kLocked,    // the input desktop is not ours
  kNoFocus,   // no window to take the keys
  kElevated,  // the target runs above us, or we cannot tell
  kRefused,   // the system took only part of the keys
  kUntypeable,  // a character the way of typing here cannot produce
  kNotAllowed,  // the way of typing is not ready: the desktop has not let us type (yet)
};

struct Reach {
  Unreachable why = Unreachable::kNone;
  std::string program;
  std::string detail = {};  // kNotAllowed: the way of typing's own reason, in a few words
  bool ok() const { return why == Unreachable::kNone; }
};

// A target whose integrity cannot be read counts as higher: guessing wrong
// the other way loses the scan in silence.
Reach DecideReach(const KeyTarget& target);

// The notice for the user, in a sentence.
std::string UnreachableMessage(const Reach& reach);
// A few words for the diagnostics log.
std::string_view UnreachableReason(Unreachable why);

}  // namespace tarvik
