#include "core/event_pump.h"

namespace tarvik {

void Pause(IEventPump& pump, const IClock& clock, int ms) {
  const auto deadline = clock.Monotonic() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  for (;;) {
    pump.ProcessPending();
    if (pump.QuitRequested()) return;
    const auto now = clock.Monotonic();
    if (now >= deadline) return;
    pump.WaitForEvent(deadline - now);
  }
}

}  // namespace tarvik
