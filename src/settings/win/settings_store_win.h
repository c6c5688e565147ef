// pelrin.ini on disk. The place is chosen once, when the program starts, so
// that the loads and saves of one run use the same file.
#pragma once
#include <string>

#include "core/win/unique_any.h"
#include "settings/settings.h"

namespace tarvik::win {

class Win32SettingsStore : public ISettingsStore {
 public:
  // winPath: GetWinPath's text (ANSI). The per-user folder is the roaming
  // application data folder's "Tarvik".
  static Win32SettingsStore ChooseAtStart(const std::string& winPath);

  bool Exists() const override;
  std::optional<std::string> Read() const override;
  bool Write(const std::string& bytes) override;
  std::string Describe() const override;
  std::string LastError() const override { return lastError_; }
  // The folder the file is saved in: where the files beside it belong.
  std::wstring WriteFolder() const;

 private:
  Win32SettingsStore(std::wstring readPath, std::wstring writePath)
      : readPath_(std::move(readPath)), writePath_(std::move(writePath)) {}

  std::wstring readPath_;
  std::wstring writePath_;
  std::string lastError_;
};

// Replaces `path` with `bytes` in one step: a temporary file beside it,
// flushed, then moved over it. On failure the old file is as it was.
// 0, or the system's error.
DWORD ReplaceFileAtomically(const std::wstring& path, const std::string& bytes);

}  // namespace tarvik::win
