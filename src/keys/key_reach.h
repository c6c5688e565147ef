// Whether the keys of a record can reach the window they are meant for. The
// system drops injected keys without a word where the input desktop is not
// the user's (locked, a UAC prompt) and where the focused program runs at a
// higher integrity level (as administrator); a reader must not be told "read
// done" for a record nobody got, and the user must hear of it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/dialogs.h"

namespace tarvik {

// What the system says about where keys would go now.
struct KeyTarget {
  bool inputDesktopIsOurs = true;  // false while locked or on a secure desktop
  bool hasForeground = true;       // a window has the keyboard's attention
  std::uint32_t ownIntegrity = 0;
  std::optional<std::uint32_t> targetIntegrity;  // none: it could not be read
  // Where the integrity could not be read: whether a message the system holds
  // back from a program of lower integrity reached the target. None where
  // that could not be told either.
  std::optional<bool> takesMessages;
  std::string program;  // the target's program file, where known
  std::string processName;  // Linux: the process's own name (comm), where it differs
  std::string title;    // the title of its top-level window, where known
  std::string lockedBy;  // what says the session is locked, where something does
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
  kElevated,  // the target runs above us
  kCannotTell,  // its level cannot be read, nor whether it takes our input
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

// A target whose integrity cannot be read (a program of another account, or
// one whose security forbids the question) is judged by what reaches it: the
// same filter that drops injected keys refuses our messages to it. Where even
// that cannot be told it is not typed into: guessing wrong loses the scan in
// silence.
Reach DecideReach(const KeyTarget& target);

// What one source says of the session's lock (a lock screen, a screen saver
// over the desktop): keys typed then go to its unlock prompt, if anywhere.
enum class LockWord { kUnknown, kUnlocked, kLocked };
struct LockReading {
  std::string source;  // who says it, for the log
  LockWord word = LockWord::kUnknown;
  std::string why = {};  // kUnknown: why it could not tell
};

// The sources of the desktop the program runs on, asked before each record;
// each answers within a bound, or counts as unknown.
class ILockSources {
 public:
  virtual ~ILockSources() = default;
  virtual std::vector<LockReading> Read() = 0;
};

enum class LockState { kUnlocked, kLocked, kUnknown };
struct LockVerdict {
  LockState state = LockState::kUnknown;
  std::string by;  // kLocked: the source that says so; kUnknown: why none could tell
};

// Locked if any source says so; unknown only if none can tell.
LockVerdict DecideLock(const std::vector<LockReading>& readings);

// Another target's answer, with the input desktop not ours while any source
// says the session is locked. Where nothing can tell, the record is typed
// (refusing every scan would make the program useless where no lock exists to
// be seen); where `mustKnow` (Wayland, whose compositors hand typed keys to
// their lock screen without a sign to any client) the user is told so, once.
class LockGuardedTarget : public IKeyTarget {
 public:
  LockGuardedTarget(const IKeyTarget& inner, ILockSources& sources, INotice& notice,
                    IDiagnostics& log, bool mustKnow)
      : inner_(inner), sources_(sources), notice_(notice), log_(log), mustKnow_(mustKnow) {}
  KeyTarget Query() const override;
  // Asks the sources once, so a lock nothing can see is told at the start
  // rather than at the first scan.
  void Check() const { Ask(); }

 private:
  LockVerdict Ask() const;

  const IKeyTarget& inner_;
  ILockSources& sources_;
  INotice& notice_;
  IDiagnostics& log_;
  const bool mustKnow_;
  mutable bool unknownLogged_ = false;
  mutable bool told_ = false;
};

// What the user is told where the lock cannot be seen.
inline constexpr char kLockUnknownNotice[] =
    "Tarvik cannot tell whether this desktop is locked: a scan made while it is locked would be "
    "typed into the unlock prompt.";

// The notice for the user, in a sentence.
std::string UnreachableMessage(const Reach& reach);
// A few words for the diagnostics log.
std::string_view UnreachableReason(Unreachable why);

}  // namespace tarvik
