// The seams through which the logic waits and reads the time.
#pragma once
#include <chrono>

namespace tarvik {

// The window's event processing. Everything runs on one thread: handlers of
// window, timer and link events run inside ProcessPending and WaitForEvent.
class IEventPump {
 public:
  virtual ~IEventPump() = default;
  // Runs every event already pending, then returns.
  virtual void ProcessPending() = 0;
  // Blocks until an event is pending or `limit` has passed; runs nothing.
  virtual void WaitForEvent(std::chrono::microseconds limit) = 0;
  // True once the program has been asked to end; waits then return at once.
  virtual bool QuitRequested() const = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  // Seconds since local midnight, with fractions; restarts at 0 at midnight.
  virtual double TimeOfDay() const = 0;
  // A clock that never jumps, for measuring lengths of time.
  virtual std::chrono::microseconds Monotonic() const = 0;
};

// Waits `ms` milliseconds while processing events. Pending events are processed
// at least once, also for 0 ms. The length is measured on the monotonic clock,
// so a pause that spans midnight (or a clock change) still ends after its length.
void Pause(IEventPump& pump, const IClock& clock, int ms);

}  // namespace tarvik
