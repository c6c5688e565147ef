#include "core/linux/file_io_linux.h"

#include <unistd.h>

#include <cerrno>

namespace tarvik::lnx {

Fd::~Fd() {
  if (fd >= 0) close(fd);
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadUpTo(int fd, std::size_t max, std::string& bytes) {
  bytes.assign(max, '\0');
  std::size_t got = 0;
  while (got < max) {
    const ssize_t n = read(fd, bytes.data() + got, max - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return true;
}

}  // namespace tarvik::lnx
