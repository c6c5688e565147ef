#include "settings/linux/settings_store_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/linux/file_io_linux.h"
#include "core/linux/xdg_linux.h"
#include "settings/settings_file.h"

namespace tarvik::lnx {

std::string SettingsFolder() { return ProgramFolder(BaseDir::Config); }

LinuxSettingsStore::LinuxSettingsStore(std::string folder) : folder_(std::move(folder)) {
  MakeFolders(folder_);
  path_ = folder_ + "/pelrin.ini";
}

bool LinuxSettingsStore::Exists() const {
  struct stat s {};
  return stat(path_.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

std::optional<std::string> LinuxSettingsStore::Read() const {
  Fd f{open(path_.c_str(), O_RDONLY | O_CLOEXEC)};
  std::string bytes;
  if (f.fd < 0 || !ReadUpTo(f.fd, kMaxSettingsFileBytes, bytes)) return std::nullopt;
  return bytes;
}

bool LinuxSettingsStore::Write(const std::string& bytes) {
  MakeFolders(folder_);  // it may have been removed while the program ran
  return SaveFileAtomically(path_, bytes, false, lastError_);
}

}  // namespace tarvik::lnx
