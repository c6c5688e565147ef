#include "core/linux/log_files_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/linux/xdg_linux.h"

namespace tarvik::lnx {
namespace {

constexpr mode_t kLogFileMode = 0600;  // the user's own: it names readers and programs
constexpr int kFirstYear = 1900;
constexpr long kNanosecondsPerMillisecond = 1000000;

}  // namespace

LinuxLogFiles::LinuxLogFiles(std::string folder) {
  if (folder.empty() || !MakeFolders(folder)) return;
  path_ = folder + "/tarvik.log";
  previous_ = folder + "/tarvik.1.log";
}

LinuxLogFiles::~LinuxLogFiles() { CloseFile(); }

void LinuxLogFiles::CloseFile() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::uint64_t LinuxLogFiles::CurrentSize() {
  struct stat s {};
  if (path_.empty() || stat(path_.c_str(), &s) != 0) return 0;
  return static_cast<std::uint64_t>(s.st_size);
}

bool LinuxLogFiles::Append(std::string_view bytes) {
  if (path_.empty()) return false;
  if (fd_ < 0) {
    fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
    if (fd_ < 0) return false;
  }
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseFile();  // opened afresh for the next line
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool LinuxLogFiles::Rotate() {
  CloseFile();
  return !path_.empty() && std::rename(path_.c_str(), previous_.c_str()) == 0;
}

LocalTime LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm t{};
  localtime_r(&now.tv_sec, &t);
  return {t.tm_year + kFirstYear, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          static_cast<int>(now.tv_nsec / kNanosecondsPerMillisecond)};
}

}  // namespace tarvik::lnx
