#include "core/linux/file_io_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSaveFile>

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

bool SaveFileAtomically(const std::string& path, std::string_view bytes,
                        bool ownerOnly, std::string& why) {
  const QString name = QString::fromStdString(path);
  QSaveFile file(name);
  auto failed = [&](const char* attempted) {
    why = std::string(attempted) + " " + path + ": " + file.errorString().toStdString();
    file.cancelWriting();
    return false;
  };
  const bool existed = QFileInfo::exists(name);
  if (!file.open(QIODevice::WriteOnly)) return failed("Creating a new file beside");
  constexpr auto kOwner = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadUser | QFileDevice::WriteUser;
  if (ownerOnly && !existed && !file.setPermissions(kOwner))
    return failed("Setting the permissions of the new file beside");
  const auto size = static_cast<qint64>(bytes.size());
  if (file.write(bytes.data(), size) != size)
    return failed("Writing the new file beside");
  if (!file.commit()) return failed("Replacing");
  // The rename reaches the disk with its folder.
  const QString folder = QFileInfo(QFileInfo(name).canonicalFilePath()).absolutePath();
  Fd dir{open(folder.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) fsync(dir.fd);
  return true;
}

}  // namespace tarvik::lnx
