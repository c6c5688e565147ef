// Where typed keys would go on an X display. X has no integrity levels: a
// window takes keys from every client of its display, so ours and the
// target's are the same. A screen locker is seen by the keyboard grab it
// holds: keys typed meanwhile would go to its unlock prompt.
#pragma once
#include "wedge/key_reach.h"

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

 private:
  void Describe(XID focus, KeyTarget& t) const;
  bool KeyboardHeldElsewhere() const;
  Display* d_ = nullptr;
};

}  // namespace tarvik::lnx
