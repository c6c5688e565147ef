#pragma once
#include <string>

namespace tarvik::win {

// The Windows directory as the system gives it (ANSI), no backslash added or
// removed; empty when the system call fails.
std::string GetWinPath();

}  // namespace tarvik::win
