#pragma once
#include <string>
#include <string_view>

namespace tarvik::win {

// The Windows directory as the system gives it (ANSI), no backslash added or
// removed; empty when the system call fails.
std::string GetWinPath();
// A file the program keeps in the Windows directory (beep1.wav), by name.
std::string WindowsFolderFile(std::string_view name);

}  // namespace tarvik::win
