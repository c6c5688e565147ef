#include "core/win/log_files_win.h"

#include <shlobj.h>

namespace tarvik::win {
namespace {

std::wstring LocalAppData() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

Win32LogFiles::Win32LogFiles() : Win32LogFiles(LocalAppData().empty() ? L"" : LocalAppData() + L"\\Tarvik") {}

Win32LogFiles::Win32LogFiles(std::wstring folder) {
  if (folder.empty()) return;
  CreateDirectoryW(folder.c_str(), nullptr);
  path_ = folder + L"\\tarvik.log";
  previous_ = folder + L"\\tarvik.1.log";
}

std::uint64_t Win32LogFiles::CurrentSize() {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path_.empty() || !GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32LogFiles::Append(std::string_view bytes) {
  if (path_.empty()) return false;
  if (!file_) {
    // Others may read it, and delete or move it, while the program runs.
    file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return false;
  }
  DWORD written = 0;
  if (WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size())
    return true;
  file_.reset();  // opened afresh for the next line
  return false;
}

bool Win32LogFiles::Rotate() {
  file_.reset();
  return !path_.empty() && MoveFileExW(path_.c_str(), previous_.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LocalTime LocalNow() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace tarvik::win
