// Whether the user's session is locked, as the desktop's own services say
// it: logind (org.freedesktop.login1 on the system bus), whose LockedHint
// GNOME, KDE and the lockers that follow logind set while the lock screen is
// up, and the screen saver services on the session bus (GNOME's, MATE's,
// Cinnamon's, XFCE's and the freedesktop one KDE and others serve). Keys typed
// while locked go to the unlock prompt, not to the window the user left.
#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "keys/key_reach.h"

namespace tarvik::lnx {

// Each question has this long at most: logind and a screen saver answer in
// well under a millisecond, and a scan must never hang on one that does not.
inline constexpr std::chrono::milliseconds kLockCallLimit{250};
// All the questions of one record together.
inline constexpr std::chrono::milliseconds kLockReadLimit{600};

using LockDeadline = std::chrono::steady_clock::time_point;

// logind's names on the system bus, for whoever follows a session.
inline constexpr char kLogindService[] = "org.freedesktop.login1";
inline constexpr char kLogindManagerPath[] = "/org/freedesktop/login1";
inline constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";
inline constexpr char kLogindSession[] = "org.freedesktop.login1.Session";
inline constexpr char kDBusProperties[] = "org.freedesktop.DBus.Properties";

// This user's graphical session as logind names it, found the way the
// desktops find it (see LogindLock): the first candidate `usable` takes
// (it reads what it wants of the session, or says why it cannot), and how
// it was named; nothing, and `why`, where none is.
struct LogindSession {
  std::string path;
  std::string how;
};
std::optional<LogindSession> FindLogindSession(
    LockDeadline deadline, const std::function<bool(const std::string& path, std::string& why)>& usable,
    std::string& why);

// A true-or-false property of a logind session ("LockedHint", "Active"), or
// nothing and why.
std::optional<bool> LogindSessionFlag(const std::string& path, const char* name, LockDeadline deadline,
                                      std::string& why);

// logind's LockedHint for this user's graphical session, found the way the
// desktops find it: $XDG_SESSION_ID where set; else GetSession("auto"), the
// caller's session or, outside one (gnome-session passes no session id, and
// programs started from autostart run in systemd user units), the user's
// display session; else the User object's Display session. A session that
// goes away (logout, a new login) is looked for again at the next question.
class LogindLock {
 public:
  explicit LogindLock(IDiagnostics& log) : log_(log) {}
  LockReading Read(LockDeadline deadline);

 private:
  // The session found and its LockedHint; nothing, and `why`, where none is.
  std::optional<bool> Find(LockDeadline deadline, std::string& why);

  IDiagnostics& log_;
  std::string session_;  // the session's object path, once found
};

// GetActive of each screen saver service that has an owner on the session
// bus now (one ListNames a record; a name without owner is never started),
// added to `out`; one unknown reading where none has.
void ScreenSaverServices(LockDeadline deadline, std::vector<LockReading>& out);

// logind, the screen saver services, and what the window system itself says
// (`more`: the X screen saver, the compositor's window list), in that order.
class DesktopLockSources : public ILockSources {
 public:
  using Source = std::function<LockReading()>;
  DesktopLockSources(IDiagnostics& log, std::vector<Source> more)
      : logind_(log), more_(std::move(more)) {}
  std::vector<LockReading> Read() override;

 private:
  LogindLock logind_;
  std::vector<Source> more_;
};

}  // namespace tarvik::lnx
