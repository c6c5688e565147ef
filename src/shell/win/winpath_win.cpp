#include "shell/win/winpath_win.h"

#include "core/win/unique_any.h"

namespace tarvik::win {

std::string GetWinPath() {
  std::string buffer(MAX_PATH, '\0');
  const UINT n = GetWindowsDirectoryA(buffer.data(), MAX_PATH);
  if (n == 0) return {};
  // A result over MAX_PATH is the size the path would need: the buffer holds no
  // path then, and the characters before the first NUL are none.
  return buffer.substr(0, buffer.find('\0'));
}

std::string WindowsFolderFile(std::string_view name) { return GetWinPath() + "\\" + std::string(name); }

}  // namespace tarvik::win
