#include "link/reader_commands.h"

#include <array>
#include <cmath>
#include <string>

#include "core/event_pump.h"

namespace tarvik {
namespace {

constexpr double kSecondsPerMinute = 60.0;
// The reader's commands: "F" confirms a read, "B" and the closing bytes end
// its session, "S" puts it to sleep.
constexpr std::array<std::uint8_t, 1> kFeedback = {'F'};
constexpr std::array<std::uint8_t, 1> kBCommand = {'B'};
constexpr std::array<std::uint8_t, 3> kClose = {0x7C, 0x1E, 0x0D};
constexpr std::array<std::uint8_t, 1> kSleep = {'S'};
// Pauses the reader needs: before "F" after a read, between "B" and the
// closing bytes, and before "S".
constexpr int kBeforeFeedbackMs = 200;
constexpr int kBeforeCloseMs = 100;
constexpr int kBeforeSleepMs = 1000;

}  // namespace

std::int32_t RoundHalfEven(double v) {
  const double f = std::floor(v);
  const double diff = v - f;
  double r = f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) r = f + 1;
  return static_cast<std::int32_t>(r);
}

void ReaderCommands::Write(std::span<const std::uint8_t> bytes) {
  library_.ReportResult(client_.Write(bytes));
}

void ReaderCommands::SendFeedback() {
  Pause(pump_, clock_, kBeforeFeedbackMs);
  Write(kFeedback);
}

void ReaderCommands::ArmInactivityDeadline() {
  const int minutes = c_.ListIndex(kTimeoutList);
  const double now = clock_.TimeOfDay();
  // The deadline is a whole second of the day, as the design had it; it is
  // kept as a length from now, so midnight and clock changes do not move it.
  armedAt_ = clock_.Monotonic();
  armedFor_ = RoundHalfEven(now + minutes * kSecondsPerMinute) - now;
  armed_ = true;
}

bool ReaderCommands::DeadlinePassed() const {
  if (!armed_) return true;  // never armed: the deadline was 0, long past
  const double elapsed = std::chrono::duration<double>(clock_.Monotonic() - armedAt_).count();
  return elapsed >= armedFor_;
}

void ReaderCommands::SendBCommand() {
  Write(kBCommand);
  pump_.ProcessPending();
  Pause(pump_, clock_, kBeforeCloseMs);
  Write(kClose);
  pump_.ProcessPending();
}

void ReaderCommands::Timer3_Timer() {
  if (c_.ListIndex(kTimeoutList) == 0) return;
  if (!DeadlinePassed()) return;
  diag_.Event("No data for " + std::to_string(c_.ListIndex(kTimeoutList)) +
              " minutes: the link is closed with the reader's commands");
  SendBCommand();
  Pause(pump_, clock_, kBeforeSleepMs);
  Write(kSleep);
  client_.Disconnect();
}

}  // namespace tarvik
