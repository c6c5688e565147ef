// Waking from sleep on Linux: logind's PrepareForSleep(false) on the system
// bus. Without a system bus (a container, a minimal session) nothing is
// heard, and an open link that died in the sleep is found by its own
// keep-alive instead.
#pragma once
#include <QObject>

#include <functional>
#include <string>

namespace tarvik::lnx {

class SleepWatcher : public QObject {
  Q_OBJECT

 public:
  explicit SleepWatcher(std::function<void()> onResumed);
  // Empty when the signal is watched, else why not.
  const std::string& Problem() const { return problem_; }

 private slots:
  void PrepareForSleep(bool goingToSleep);

 private:
  std::function<void()> onResumed_;
  std::string problem_;
};

}  // namespace tarvik::lnx
