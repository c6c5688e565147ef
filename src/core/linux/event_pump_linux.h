// The Qt event loop as the logic's event pump, and the system clocks.
#pragma once
#include <QTimer>

#include "core/event_pump.h"

namespace tarvik::lnx {

class QtEventPump : public IEventPump {
 public:
  QtEventPump();
  void ProcessPending() override;
  // Sleeps in the event loop until something arrives (a window event, a
  // socket, a timer) or `limit` has passed. Qt runs what woke it as it
  // wakes; the callers process pending events after every wait anyway.
  void WaitForEvent(std::chrono::microseconds limit) override;
  bool QuitRequested() const override { return quit_; }
  // Ends the program's loop, also from inside a nested wait: every wait
  // returns at once from then on.
  void RequestQuit(int exitCode);
  // The program's outer loop; returns the exit code.
  int Run();

 private:
  QTimer limit_;  // wakes a wait at its limit
  bool quit_ = false;
  int exitCode_ = 0;
};

class SystemClock : public IClock {
 public:
  // Local time of day from the real-time clock.
  double TimeOfDay() const override;
  std::chrono::microseconds Monotonic() const override;
};

}  // namespace tarvik::lnx
