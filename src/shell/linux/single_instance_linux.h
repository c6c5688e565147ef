// One copy per user: two would fight over the one reader, and with two
// links every line would be typed twice. The first copy holds a lock file
// and listens on a local socket, both in $XDG_RUNTIME_DIR; a second start
// asks the first to bring its window back and ends.
#pragma once
#include <QLocalServer>
#include <QLockFile>

#include <chrono>
#include <functional>
#include <string>

#include "core/linux/xdg_linux.h"

namespace tarvik::lnx {

class SingleInstance {
 public:
  explicit SingleInstance(const RuntimePlace& place);

  // True when no other copy runs: the lock is this copy's until it ends. A
  // lock that cannot be made at all (no such folder, no rights) lets the
  // program run, with `problem` saying why.
  bool TakeLock(std::string& problem);
  // Asks the running copy to come back. It may still be starting, so its
  // socket is tried for a while. False when it never answered.
  bool HandOver();
  // Listens for later copies; each request runs `onBringBack`.
  bool Listen(std::function<void()> onBringBack, std::string& problem);

  static constexpr std::chrono::milliseconds kHandOverLimit{5000};
  static constexpr std::chrono::milliseconds kHandOverRetry{100};

 private:
  QString lockPath_, socketPath_;
  QLockFile lock_;
  QLocalServer server_;
  std::function<void()> onBringBack_;
};

}  // namespace tarvik::lnx
