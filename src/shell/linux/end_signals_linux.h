// The session ending, or someone asking the program to stop (SIGTERM,
// SIGHUP at log-out, SIGINT from a terminal): the Linux counterpart of the
// window closing at log-off on Windows. The signal handler only writes to
// a pipe; the handler runs later in the event loop, where anything may be
// done.
#pragma once
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace tarvik::lnx {

class EndSignals {
 public:
  // `onEnd` gets the signal's number. Only one instance may exist.
  explicit EndSignals(std::function<void(int)> onEnd);
  ~EndSignals();
  EndSignals(const EndSignals&) = delete;
  EndSignals& operator=(const EndSignals&) = delete;

 private:
  std::function<void(int)> onEnd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tarvik::lnx
