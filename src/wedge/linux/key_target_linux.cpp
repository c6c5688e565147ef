#include "wedge/linux/key_target_linux.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace tarvik::lnx {

X11KeyTarget::X11KeyTarget() : X11KeyTarget(nullptr) {}

X11KeyTarget::X11KeyTarget(const char* display) {
  const char* name = display ? display : std::getenv("DISPLAY");
  if (name && *name) d_ = XOpenDisplay(name);
}

X11KeyTarget::~X11KeyTarget() {
  if (d_) XCloseDisplay(d_);
}

KeyTarget X11KeyTarget::Query() const {
  KeyTarget t;
  t.targetIntegrity = t.ownIntegrity;
  if (!d_) return t;
  Window focus = None;
  int revert = 0;
  XGetInputFocus(d_, &focus, &revert);
  if (focus == None) {
    t.hasForeground = false;
    return t;
  }
  // With the focus on the root, or following the pointer, keys go to the
  // top-level window under the pointer, if there is one.
  const Window root = DefaultRootWindow(d_);
  if (focus == PointerRoot || focus == root) {
    Window rootReturn = None, child = None;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    const bool sameScreen = XQueryPointer(d_, root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
    t.hasForeground = !sameScreen || child != None;
  }
  return t;
}

}  // namespace tarvik::lnx
