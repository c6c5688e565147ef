#include "core/win/watched_file_win.h"

#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

std::string Reason(const std::wstring& attempted, DWORD error) {
  return Narrow(DescribeFailure(attempted, error));
}

}  // namespace

std::string Win32WatchedFile::Describe() const { return Narrow(path_); }

// An editor that saves through a temporary file and a rename keeps the size
// now and then, never the time of the last write as well.
std::string Win32WatchedFile::Stamp() const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return {};
  return std::to_string(data.nFileSizeHigh) + ":" + std::to_string(data.nFileSizeLow) + ":" +
         std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
         std::to_string(data.ftLastWriteTime.dwLowDateTime);
}

std::optional<std::string> Win32WatchedFile::Read(std::size_t limit, std::string& why) const {
  // Shared every way: the editor may hold it open, or replace it meanwhile.
  UniqueFile f(CreateFileW(path_.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return why = Reason(L"Opening " + path_, GetLastError()), std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.get(), &size)) return why = Reason(L"Sizing " + path_, GetLastError()), std::nullopt;
  if (static_cast<unsigned long long>(size.QuadPart) > limit)
    return why = "larger than " + std::to_string(limit) + " bytes", std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(f.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr))
      return why = Reason(L"Reading " + path_, GetLastError()), std::nullopt;
    if (n == 0) break;  // it shrank while we read: what is there is the file
    done += n;
  }
  bytes.resize(done);
  return bytes;
}

bool Win32WatchedFile::CreateIfMissing(std::string_view bytes, std::string& why) {
  UniqueFile f(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS) return true;
    why = Reason(L"Creating " + path_, error);
    return false;
  }
  DWORD n = 0;
  const BOOL wrote = WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  const DWORD error = !wrote ? GetLastError() : n != bytes.size() ? ERROR_WRITE_FAULT : ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) {
    why = Reason(L"Writing " + path_, error);
    f.reset();
    DeleteFileW(path_.c_str());
    return false;
  }
  return true;
}

}  // namespace tarvik::win
