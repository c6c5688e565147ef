#include "settings/linux/settings_store_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/linux/file_io_linux.h"
#include "core/linux/xdg_linux.h"
#include "settings/settings_file.h"

namespace tarvik::lnx {
namespace {

constexpr mode_t kNewFileMode = 0644;  // before the umask, like any file the user saves
constexpr mode_t kPermissionBits = 07777;

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

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
  std::string step;
  if (const int error = ReplaceFileAtomically(path_, bytes, step)) {
    lastError_ = DescribeErrno(step, error);
    return false;
  }
  return true;
}

int ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string& step) {
  const std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
  {
    step = "Creating " + temp;
    Fd f{open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode)};
    if (f.fd < 0) return errno;
    // The new file keeps the old one's permissions.
    struct stat old {};
    if (stat(path.c_str(), &old) == 0) fchmod(f.fd, old.st_mode & kPermissionBits);
    step = "Writing " + temp;
    if (!WriteAll(f.fd, bytes) || fsync(f.fd) != 0) {
      const int error = errno;
      unlink(temp.c_str());
      return error;
    }
  }
  step = "Replacing " + path;
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    return error;
  }
  // The rename itself reaches the disk with its folder.
  Fd folder{open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (folder.fd >= 0) fsync(folder.fd);
  return 0;
}

}  // namespace tarvik::lnx
