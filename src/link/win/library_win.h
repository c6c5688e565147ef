// The library manager on Windows: Winsock up and down, and the recent result
// codes kept for a person diagnosing a problem.
#pragma once
#include <array>
#include <cstdint>

#include "link/wireless.h"

namespace tarvik::win {

class Win32LibraryManager : public LibraryManager {
 public:
  ~Win32LibraryManager() override;
  std::int32_t Open() override;
  std::int32_t Close() override;
  // Every code goes to the debugger output (DebugView shows it); the last
  // 64 stay in memory for a debugger.
  void ReportResult(std::int32_t code) override;
  // Winsock and system codes in the system's words.
  std::string Describe(std::int32_t code) const override;

 private:
  bool started_ = false;
  std::array<std::int32_t, 64> recent_{};
  std::size_t next_ = 0;
};

}  // namespace tarvik::win
