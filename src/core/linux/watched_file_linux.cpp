#include "core/linux/watched_file_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/linux/xdg_linux.h"

namespace tarvik::lnx {
namespace {

// The user's own file: readable by the user alone, as the settings are.
constexpr mode_t kPrivateFile = 0600;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

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
  Fd f(open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (f.get() < 0) return why = DescribeErrno("Opening " + path_, errno), std::nullopt;
  std::string bytes;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(f.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return why = DescribeErrno("Reading " + path_, errno), std::nullopt;
    if (n == 0) return bytes;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > limit) return why = "larger than " + std::to_string(limit) + " bytes", std::nullopt;
  }
}

bool LinuxWatchedFile::CreateIfMissing(std::string_view bytes, std::string& why) {
  const auto slash = path_.rfind('/');
  if (slash != std::string::npos) MakeFolders(path_.substr(0, slash));
  Fd f(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFile));
  if (f.get() < 0) {
    if (errno == EEXIST) return true;
    why = DescribeErrno("Creating " + path_, errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(f.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = DescribeErrno("Writing " + path_, n < 0 ? errno : EIO);
      unlink(path_.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace tarvik::lnx
