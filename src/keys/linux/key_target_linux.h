// Where typed keys would go on an X display. X has no integrity levels: a
// window takes keys from every client of its display, so ours and the
// target's are the same. A keyboard grabbed by another client is no sign of
// a lock: virtual machine viewers, remote desktop clients and open menus hold
// it too, and XTest keys then go to the grab's holder, which is the target.
#pragma once
#include "keys/key_reach.h"

typedef struct _XDisplay Display;
typedef unsigned long XID;

namespace tarvik::lnx {

class X11KeyTarget : public IKeyTarget {
 public:
  // Its own connection to $DISPLAY. Without one (Wayland alone) nothing is
  // known of the focus, and keys are taken to have somewhere to go.
  X11KeyTarget();
  explicit X11KeyTarget(const char* display);
  ~X11KeyTarget() override;
  X11KeyTarget(const X11KeyTarget&) = delete;
  X11KeyTarget& operator=(const X11KeyTarget&) = delete;
  // The program (its process name) and title of the window in front.
  KeyTarget Query() const override;
  // The X server's own screen saver (MIT-SCREEN-SAVER): while it is on, the
  // screen is blanked, and the lockers that follow it (xss-lock, xautolock)
  // are up. Unknown without a display or the extension.
  LockReading ScreenSaver() const;

 private:
  void Describe(XID focus, KeyTarget& t) const;
  Display* d_ = nullptr;
  bool saverExtension_ = false;
};

}  // namespace tarvik::lnx
