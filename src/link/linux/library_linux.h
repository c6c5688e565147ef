// The library manager on Linux. Nothing needs starting (sockets, Qt
// Bluetooth and serial ports are ready in any process); it keeps the recent
// result codes for a person diagnosing a problem and words them.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "link/wireless.h"

namespace tarvik::lnx {

class QtLibraryManager : public LibraryManager {
 public:
  static constexpr std::size_t kRecentCodes = 64;

  std::int32_t Open() override;
  std::int32_t Close() override;
  // Every failure goes to the log category "tarvik.link"; the last
  // kRecentCodes codes stay in memory for a debugger.
  void ReportResult(std::int32_t code) override;
  // errno values in the system's words, this library's codes in its own.
  std::string Describe(std::int32_t code) const override;
  // A port refused for permission: the user is not in the group that owns
  // serial devices (Debian and Ubuntu: dialout; Fedora and Arch: dialout or uucp).
  std::string SerialAdvice(std::int32_t code) const override;

  bool IsOpen() const { return open_; }

 private:
  bool open_ = false;
  std::array<std::int32_t, kRecentCodes> recent_{};
  std::size_t next_ = 0;
};

}  // namespace tarvik::lnx
