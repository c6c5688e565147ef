// A clock that moves only when the program waits, and an event pump that runs
// scripted events when their time has come: inside ProcessPending, which is
// also what every wait does. This lets tests put an event right in the middle
// of a pause, a typed record or a save.
#pragma once
#include <chrono>
#include <cmath>
#include <functional>
#include <map>

#include "core/event_pump.h"

namespace tarvik::testing {

using namespace std::chrono_literals;

class FakeClock : public IClock {
 public:
  double TimeOfDay() const override {
    return std::fmod(startOfDay + std::chrono::duration<double>(now).count(), 86400.0);
  }
  std::chrono::microseconds Monotonic() const override { return now; }

  std::chrono::microseconds now{0};
  double startOfDay = 9 * 3600.0;  // the test day starts at 09:00
};

class FakePump : public IEventPump {
 public:
  explicit FakePump(FakeClock& clock) : clock_(clock) {}

  void ProcessPending() override {
    ++processed;
    if (onProcess) onProcess();
    while (!scripted_.empty() && scripted_.begin()->first <= clock_.now) {
      auto fn = std::move(scripted_.begin()->second);
      scripted_.erase(scripted_.begin());
      fn();  // may nest further waits and schedule more events
    }
  }
  void WaitForEvent(std::chrono::microseconds limit) override {
    ++waits;
    auto until = clock_.now + limit;
    if (!scripted_.empty() && scripted_.begin()->first < until)
      until = std::max(clock_.now, scripted_.begin()->first);
    clock_.now = until;
  }
  bool QuitRequested() const override { return quit; }

  // Runs fn inside the first event processing at or after time t.
  void At(std::chrono::microseconds t, std::function<void()> fn) {
    scripted_.emplace(t, std::move(fn));
  }

  int processed = 0;
  int waits = 0;
  bool quit = false;
  std::function<void()> onProcess;

 private:
  FakeClock& clock_;
  std::multimap<std::chrono::microseconds, std::function<void()>> scripted_;
};

}  // namespace tarvik::testing
