// Where typed keys would go on a wlroots desktop (sway and others): the
// compositor lists every top-level window and marks the one with the focus
// activated (wlr-foreign-toplevel-management). It gives each window's
// application id (the .desktop name, or the program's) and title, not its
// process. Desktops without that list (GNOME, KDE) say nothing of the focus.
//
// On sway the list is the only sign of a locked screen: swaylock sets no
// logind LockedHint, and sway activates no window while it runs. So once the
// desktop has shown it lists its windows, a list that fails (the connection
// lost, the compositor restarted, the list finished) means no foreground
// until a new connection lists them again: records are refused, not typed
// into whatever may be in front.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "core/diagnostics.h"
#include "keys/key_reach.h"

namespace tarvik::lnx {

class WlrootsKeyTarget : public IKeyTarget {
 public:
  // Its own connection to $WAYLAND_DISPLAY. Where the desktop has no list
  // (no display set, or none offered) the log is told once that the rules'
  // window sections never match, and the focus counts as somewhere. Under a
  // running Qt event loop the list's news are read as they come, so the
  // socket never fills between records. A desktop that does not answer
  // within answerWaitMs (none: the usual limit) counts as failed.
  explicit WlrootsKeyTarget(IDiagnostics& log = NoLog(), std::optional<int> answerWaitMs = {});
  ~WlrootsKeyTarget() override;
  WlrootsKeyTarget(const WlrootsKeyTarget&) = delete;
  WlrootsKeyTarget& operator=(const WlrootsKeyTarget&) = delete;

  // Reads the compositor's news first (one round trip). No window activated
  // (an empty workspace, a screen locker or a launcher holding the keyboard),
  // or a list that failed, means no foreground; a failed list is connected
  // again here, one attempt a query, and its failure logged once.
  KeyTarget Query() const override;
  // Whether the focus is known from the compositor's list here: also while
  // the list is down (the focus then counts as nowhere, so a locked screen
  // is never typed into); not where the desktop keeps no list.
  bool Lists() const { return !noList_; }

 private:
  struct Connection;
  bool Connect(std::string& why) const;
  void Failed(const std::string& why) const;
  void ReadWaiting() const;

  IDiagnostics& log_;
  int waitMs_;
  mutable std::unique_ptr<Connection> c_;  // none while the list is down
  mutable bool noList_ = false;            // the desktop keeps no list: nothing to fail
  mutable bool listed_ = false;            // it has listed its windows to us
  mutable bool down_ = false;              // a failure is logged and not over yet
};

}  // namespace tarvik::lnx
