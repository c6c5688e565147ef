// pelrin.ini on Linux: in the program's settings folder,
// $XDG_CONFIG_HOME/tarvik (by default ~/.config/tarvik), in the same format
// as on Windows. That folder stands where the Windows program uses the
// Windows directory: beep1.wav is looked for beside the file.
#pragma once
#include <string>

#include "settings/settings.h"

namespace tarvik::lnx {

class LinuxSettingsStore : public ISettingsStore {
 public:
  // The folder is made when missing.
  explicit LinuxSettingsStore(std::string folder);

  bool Exists() const override;
  std::optional<std::string> Read() const override;
  bool Write(const std::string& bytes) override;
  std::string Describe() const override { return path_; }
  std::string LastError() const override { return lastError_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  std::string path_;
  std::string lastError_;
};

// The settings folder chosen from the environment.
std::string SettingsFolder();

}  // namespace tarvik::lnx
