#include "bluetooth/reader_commands.h"

#include <array>
#include <cmath>
#include <string>

#include "core/event_pump.h"

namespace tarvik {

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
  Pause(pump_, clock_, 200);
  static constexpr std::array<std::uint8_t, 1> kF = {0x46};
  Write(kF);
}

void ReaderCommands::ArmInactivityDeadline() {
  const int minutes = c_.ListIndex(Ctl::Combo9);
  const double now = clock_.TimeOfDay();
  deadline_ = RoundHalfEven(now + minutes * 60.0);
  armedAt_ = clock_.Monotonic();
  armedFor_ = deadline_ - now;
  armed_ = true;
}

bool ReaderCommands::DeadlinePassed() const {
  if (!armed_) return clock_.TimeOfDay() >= deadline_;
  const double elapsed = std::chrono::duration<double>(clock_.Monotonic() - armedAt_).count();
  return elapsed >= armedFor_;
}

void ReaderCommands::SendBCommand() {
  static constexpr std::array<std::uint8_t, 1> kB = {0x42};
  static constexpr std::array<std::uint8_t, 3> kClose = {0x7C, 0x1E, 0x0D};
  Write(kB);
  pump_.ProcessPending();
  Pause(pump_, clock_, 100);
  Write(kClose);
  pump_.ProcessPending();
}

void ReaderCommands::Timer3_Timer() {
  if (c_.ListIndex(Ctl::Combo9) == 0) return;
  if (!DeadlinePassed()) return;
  diag_.Event("No data for " + std::to_string(c_.ListIndex(Ctl::Combo9)) +
              " minutes: the link is closed with the reader's commands");
  SendBCommand();
  Pause(pump_, clock_, 1000);
  static constexpr std::array<std::uint8_t, 1> kS = {0x53};
  Write(kS);
  client_.Disconnect();
}

}  // namespace tarvik
