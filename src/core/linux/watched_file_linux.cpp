#include "core/linux/watched_file_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/linux/file_io_linux.h"
#include "core/linux/xdg_linux.h"

namespace tarvik::lnx {
namespace {

// Before the umask, like any file the user saves, as the settings are.
constexpr mode_t kNewFileMode = 0644;

}  // namespace

// Editors that save through a new file and a rename change the inode; those
// that write in place, the time of the last write.
std::string LinuxWatchedFile::Stamp() const {
  struct stat st {};
  if (stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

std::optional<std::string> LinuxWatchedFile::Read(std::size_t limit, std::string& why) const {
  Fd f{open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
  if (f.fd < 0) return why = DescribeErrno("Opening " + path_, errno), std::nullopt;
  std::string bytes;
  // One byte past the limit tells a file that is too large.
  if (!ReadUpTo(f.fd, limit + 1, bytes)) return why = DescribeErrno("Reading " + path_, errno), std::nullopt;
  if (bytes.size() > limit) return why = "larger than " + std::to_string(limit) + " bytes", std::nullopt;
  return bytes;
}

bool LinuxWatchedFile::CreateIfMissing(std::string_view bytes, std::string& why) {
  const auto slash = path_.rfind('/');
  if (slash != std::string::npos) MakeFolders(path_.substr(0, slash));
  Fd f{open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode)};
  if (f.fd < 0) {
    if (errno == EEXIST) return true;
    why = DescribeErrno("Creating " + path_, errno);
    return false;
  }
  if (!WriteAll(f.fd, bytes)) {
    why = DescribeErrno("Writing " + path_, errno);
    unlink(path_.c_str());
    return false;
  }
  return true;
}

}  // namespace tarvik::lnx
