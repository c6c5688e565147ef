// Picks how keys are typed on this desktop, from the session, and says which
// in the log. On a Wayland session XTest would reach only the X programs run
// through Xwayland, and nothing of a native window in front, so it is never
// chosen there: the compositor's virtual keyboard where it offers one (sway
// and the other wlroots desktops), else the desktop portal's remote keyboard
// (GNOME, KDE). An X11 session types through XTest.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/diagnostics.h"
#include "keys/key_reach.h"
#include "keys/keystroke_output.h"

namespace tarvik::lnx {

enum class TypingWay { kXTest, kVirtualKeyboard, kPortal };

// What the environment says of the session.
struct Session {
  std::string type;         // XDG_SESSION_TYPE: "wayland", "x11", or empty
  std::string wayland;      // WAYLAND_DISPLAY
  std::string display;      // DISPLAY
  std::string forced;       // TARVIK_TYPING
  bool IsWayland() const;
};
Session SessionFromEnvironment();

// The environment variable that names one way of typing and only that one:
// "xtest", "virtual-keyboard" or "portal".
inline constexpr char kTypingVariable[] = "TARVIK_TYPING";

// The ways to try, in order. Empty, and `problem` says why, when
// TARVIK_TYPING names no way, or the session has no display at all.
std::vector<TypingWay> TypingWays(const Session& session, std::string& problem);
std::string_view TypingWayName(TypingWay way);

// Opens typing through the desktop portal's remote keyboard (it needs Qt's
// D-Bus, so the program hands it in); nothing, and `problem` says why, when
// it cannot.
using PortalOpener = std::function<std::unique_ptr<IKeySender>(std::string& problem)>;

// The first way of `TypingWays` that opens, its choice logged. Nothing when
// none will type; then `problem` is the one sentence to show the user.
std::unique_ptr<IKeySender> MakeKeySender(const Session& session, std::string& problem,
                                          IDiagnostics& log = NoLog(), const PortalOpener& portal = {});
// The same for this process's session.
std::unique_ptr<IKeySender> MakeKeySender(std::string& problem, IDiagnostics& log = NoLog(),
                                          const PortalOpener& portal = {});

// The window in front: from the compositor on a Wayland session (Xwayland
// knows only its own windows), from the X server on an X11 one.
struct DesktopTarget {
  std::unique_ptr<IKeyTarget> window;
  // What the window system itself tells of a lock: the X screen saver; on a
  // wlroots desktop, its window list (sway takes the focus from every window
  // while a locker runs, which the target answers as no window in front).
  std::function<LockReading()> lockSource;
  // Wayland: no X server stands between the keys and a lock screen, so a lock
  // that cannot be seen must be told.
  bool lockMustBeKnown = false;
};
DesktopTarget MakeKeyTarget(IDiagnostics& log = NoLog());

}  // namespace tarvik::lnx
