// What the main window says to the reader: the feedback command after a
// connect and after each line, and after a time without data the "B" and
// "S" commands, after which the link is closed.
#pragma once
#include <chrono>
#include <cstdint>
#include <span>

#include "link/wireless.h"
#include "core/diagnostics.h"
#include "core/controls.h"

namespace tarvik {

class IEventPump;
class IClock;

class ReaderCommands {
 public:
  ReaderCommands(wclClient& client, LibraryManager& library, IControls& controls,
                 IEventPump& pump, const IClock& clock, IDiagnostics& diag = NoLog())
      : client_(client), library_(library), c_(controls), pump_(pump), clock_(clock), diag_(diag) {}

  // Waits 200 ms, then writes "F".
  void SendFeedback();
  // Deadline = now + the timeout list's minutes, rounded to whole seconds.
  void ArmInactivityDeadline();
  // "B"; 100 ms later 0x7C 0x1E 0x0D.
  void SendBCommand();
  // The inactivity check, every 64 s while the link is open.
  void Timer3_Timer();

  // Whole seconds since midnight; may lie past 86400 when armed shortly
  // before midnight.
  bool DeadlinePassed() const;

 private:
  void Write(std::span<const std::uint8_t> bytes);

  wclClient& client_;
  LibraryManager& library_;
  IControls& c_;
  IEventPump& pump_;
  const IClock& clock_;
  IDiagnostics& diag_;
  // The deadline as a length from the moment it was armed, measured on the
  // monotonic clock: the time of day restarts at midnight, this does not.
  std::chrono::microseconds armedAt_{0};
  double armedFor_ = 0;  // seconds
  bool armed_ = false;
};

// Rounds to the nearest whole number, halves to the even one.
std::int32_t RoundHalfEven(double value);

}  // namespace tarvik
