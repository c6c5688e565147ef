#include "core/linux/event_pump_linux.h"

#include <QCoreApplication>

#include <ctime>

namespace tarvik::lnx {
namespace {

constexpr double kSecondsPerHour = 3600.0, kSecondsPerMinute = 60.0, kNanosecondsPerSecond = 1e9;

}  // namespace

QtEventPump::QtEventPump() {
  limit_.setSingleShot(true);
  limit_.setTimerType(Qt::PreciseTimer);  // a 10 ms key delay must not stretch by 5 %
}

void QtEventPump::ProcessPending() {
  if (quit_) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::WaitForEvent(std::chrono::microseconds limit) {
  if (quit_ || limit.count() <= 0) return;
  // Rounded up: a wait that ends early would only be repeated by the caller.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit);
  limit_.start(static_cast<int>(ms.count()));
  // Blocks in the system's poll until an event source is ready; the timer
  // above is one of them, so the wait ends at its limit at the latest.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  limit_.stop();
}

void QtEventPump::RequestQuit(int exitCode) {
  quit_ = true;
  exitCode_ = exitCode;
  QCoreApplication::exit(exitCode);  // every running loop, nested ones too
}

int QtEventPump::Run() {
  // A quit requested before the loop ran would be lost on it.
  if (quit_) return exitCode_;
  const int code = QCoreApplication::exec();
  return quit_ ? exitCode_ : code;
}

double SystemClock::TimeOfDay() const {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return local.tm_hour * kSecondsPerHour + local.tm_min * kSecondsPerMinute + local.tm_sec +
         static_cast<double>(now.tv_nsec) / kNanosecondsPerSecond;
}

std::chrono::microseconds SystemClock::Monotonic() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace tarvik::lnx
