// Whether the user's session is locked, from logind (org.freedesktop.login1
// on the system bus): its LockedHint, which GNOME, KDE and the lockers that
// follow logind set while the lock screen is up. Keys typed then go to the
// unlock prompt, not to the window the user left.
#pragma once
#include <string>

#include "core/diagnostics.h"
#include "wedge/key_reach.h"

namespace tarvik::lnx {

class ISessionLock {
 public:
  virtual ~ISessionLock() = default;
  virtual bool Locked() = 0;
};

// logind's word for this process's session: $XDG_SESSION_ID where set, else
// the session the process belongs to. Read at each question, so a lock is
// seen at once. Without a system bus or logind the session is never locked;
// that is logged once.
class LogindSessionLock : public ISessionLock {
 public:
  explicit LogindSessionLock(IDiagnostics& log = NoLog()) : log_(log) {}
  bool Locked() override;

 private:
  bool FindSession();
  void Unknown(const std::string& why);

  IDiagnostics& log_;
  std::string session_;  // the session's object path, once found
  bool unknownLogged_ = false;
};

// Another target's answer, with the input desktop not ours while the session is locked.
class LockAwareKeyTarget : public IKeyTarget {
 public:
  LockAwareKeyTarget(const IKeyTarget& inner, ISessionLock& lock) : inner_(inner), lock_(lock) {}
  KeyTarget Query() const override;

 private:
  const IKeyTarget& inner_;
  ISessionLock& lock_;
};

}  // namespace tarvik::lnx
