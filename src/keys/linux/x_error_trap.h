// Xlib's default error handler ends the process. Around our requests an
// error is noted instead, and the request counts as refused. One thread
// only: the program's user-interface thread.
#pragma once
#include <X11/Xlib.h>

namespace tarvik::lnx {

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* d) : d_(d) {
    LastError() = 0;
    previous_ = XSetErrorHandler(&Note);
  }
  ~ErrorTrap() {
    if (!synced_) XSync(d_, False);
    XSetErrorHandler(previous_);
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // Waits until the server has handled every request so far; the last call
  // on the trap.
  bool Failed() {
    XSync(d_, False);
    synced_ = true;
    return LastError() != 0;
  }

 private:
  static int& LastError() {
    static int error = 0;
    return error;
  }
  static int Note(Display*, XErrorEvent* e) {
    LastError() = e->error_code;
    return 0;
  }
  Display* d_;
  bool synced_ = false;
  int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

}  // namespace tarvik::lnx
