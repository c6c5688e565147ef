// Where typed keys would go on a wlroots desktop (sway and others): the
// compositor lists every top-level window and marks the one with the focus
// activated (wlr-foreign-toplevel-management). It gives each window's
// application id (the .desktop name, or the program's) and title, not its
// process. Desktops without that list (GNOME, KDE) say nothing of the focus.
#pragma once
#include <memory>

#include "core/diagnostics.h"
#include "wedge/key_reach.h"

namespace tarvik::lnx {

class WlrootsKeyTarget : public IKeyTarget {
 public:
  // Its own connection to $WAYLAND_DISPLAY; without one, or without the
  // list, the log is told once that the rules' window sections never match.
  explicit WlrootsKeyTarget(IDiagnostics& log = NoLog());
  ~WlrootsKeyTarget() override;
  WlrootsKeyTarget(const WlrootsKeyTarget&) = delete;
  WlrootsKeyTarget& operator=(const WlrootsKeyTarget&) = delete;

  // Reads the compositor's news first (one round trip). No window activated
  // (an empty workspace, a screen locker or a launcher holding the keyboard)
  // means no foreground.
  KeyTarget Query() const override;
  // Whether the compositor lists its windows here.
  bool Lists() const;

 private:
  struct Connection;
  std::unique_ptr<Connection> c_;
};

}  // namespace tarvik::lnx
