#include "settings/win/settings_store_win.h"

#include <shlobj.h>

#include "core/win/text_win.h"
#include "core/win/unique_any.h"
#include "settings/settings_file.h"

namespace tarvik::win {
namespace {

constexpr int kMoveAttempts = 5;
constexpr DWORD kMoveRetryMs = 20;

std::wstring FromAnsi(const std::string& s) { return FromCodePage(CP_ACP, s); }

bool IsOrdinaryFile(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES &&
         !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

std::wstring Folder(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Whether a settings file can be written here: a new file in the folder, and
// the existing file (which may be read-only) opened for writing. A standard
// user cannot write C:\Windows on current Windows, and this x64 program gets
// no file virtualization.
bool CanWriteSettingsAt(const std::wstring& path) {
  const std::wstring probe =
      Folder(path) + L"\\tarvik-" + std::to_wstring(GetCurrentProcessId()) + L".probe";
  UniqueFile p(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!p) return false;
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(f);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id, DWORD flags) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, flags, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

std::wstring UserSettingsPath() {
  std::wstring folder = KnownFolder(FOLDERID_RoamingAppData, KF_FLAG_CREATE);
  if (folder.empty()) return {};
  folder += L"\\Tarvik";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\pelrin.ini";
}

// Where UAC file virtualization put a program's writes to the Windows
// directory: %LOCALAPPDATA%\VirtualStore, then the directory's path less
// its drive ("C:\Windows\pelrin.ini" -> "...\VirtualStore\Windows\pelrin.ini").
std::wstring VirtualStorePath(const std::wstring& windowsFile) {
  const std::wstring local = KnownFolder(FOLDERID_LocalAppData, 0);
  if (local.empty() || windowsFile.size() < 3 || windowsFile[1] != L':') return {};
  return local + L"\\VirtualStore" + windowsFile.substr(2);
}

}  // namespace

Win32SettingsStore Win32SettingsStore::ChooseAtStart(const std::string& winPath) {
  const std::wstring windowsFile = FromAnsi(winPath) + L"\\pelrin.ini";
  const bool writable = CanWriteSettingsAt(windowsFile);
  const std::wstring userFile = writable ? std::wstring() : UserSettingsPath();
  const std::wstring virtualFile = VirtualStorePath(windowsFile);
  const SettingsLocation where = ChooseSettingsLocation(
      writable, {IsOrdinaryFile(windowsFile), !userFile.empty() && IsOrdinaryFile(userFile),
                 !virtualFile.empty() && IsOrdinaryFile(virtualFile)});
  auto pick = [&](SettingsPlace p) {
    if (p == SettingsPlace::VirtualStore) return virtualFile;
    return p == SettingsPlace::WindowsDirectory || userFile.empty() ? windowsFile : userFile;
  };
  return Win32SettingsStore(pick(where.read), pick(where.write));
}

std::string Win32SettingsStore::Describe() const {
  if (readPath_ == writePath_) return Narrow(readPath_);
  return "read from " + Narrow(readPath_) + ", saved to " + Narrow(writePath_);
}

std::wstring Win32SettingsStore::WriteFolder() const { return Folder(writePath_); }

bool Win32SettingsStore::Exists() const { return IsOrdinaryFile(readPath_); }

std::optional<std::string> Win32SettingsStore::Read() const {
  UniqueFile f(CreateFileW(readPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                           FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return std::nullopt;
  std::string bytes(kMaxSettingsFileBytes, '\0');
  DWORD n = 0;
  if (!ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr)) return std::nullopt;
  bytes.resize(n);
  return bytes;
}

bool Win32SettingsStore::Write(const std::string& bytes) {
  if (const DWORD error = ReplaceFileAtomically(writePath_, bytes)) {
    lastError_ = Narrow(DescribeFailure(L"Writing " + writePath_, error));
    return false;
  }
  readPath_ = writePath_;  // from now on this run reads what it wrote
  return true;
}

DWORD ReplaceFileAtomically(const std::wstring& path, const std::string& bytes) {
  const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  {
    UniqueFile f(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return GetLastError();
    DWORD n = 0;
    const bool ok = WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
                    n == bytes.size() && FlushFileBuffers(f.get());
    if (!ok) {
      const DWORD error = n == bytes.size() ? GetLastError() : ERROR_WRITE_FAULT;
      f.reset();
      DeleteFileW(temp.c_str());
      return error;
    }
  }
  // A virus scanner or indexer may hold the old file for a moment.
  DWORD error = 0;
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_ACCESS_DENIED)
      break;
    Sleep(kMoveRetryMs);
  }
  DeleteFileW(temp.c_str());
  return error;
}

}  // namespace tarvik::win
