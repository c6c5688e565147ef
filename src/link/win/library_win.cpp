#include "link/win/library_win.h"

#include <string>

#include "core/win/text_win.h"

namespace tarvik::win {

Win32LibraryManager::~Win32LibraryManager() { Close(); }

std::int32_t Win32LibraryManager::Open() {
  if (started_) return 0;
  WSADATA data;
  const int r = WSAStartup(MAKEWORD(2, 2), &data);
  started_ = r == 0;
  return r;
}

std::int32_t Win32LibraryManager::Close() {
  if (!started_) return 0;
  started_ = false;
  return WSACleanup() == 0 ? 0 : WSAGetLastError();
}

std::string Win32LibraryManager::Describe(std::int32_t code) const {
  const std::wstring words = code < 0 ? std::wstring() : SystemMessage(static_cast<DWORD>(code));
  return words.empty() ? LibraryManager::Describe(code) : Narrow(words);
}

void Win32LibraryManager::ReportResult(std::int32_t code) {
  recent_[next_++ % recent_.size()] = code;
  if (code != 0) DebugLine("Tarvik: wireless result " + std::to_string(code));
}

}  // namespace tarvik::win
