#include "link/linux/library_linux.h"

#include <QString>

#include <cerrno>

#include "link/linux/link_errors_linux.h"

namespace tarvik::lnx {

std::int32_t QtLibraryManager::Open() {
  open_ = true;
  return 0;
}

std::int32_t QtLibraryManager::Close() {
  open_ = false;
  return 0;
}

void QtLibraryManager::ReportResult(std::int32_t code) {
  recent_[next_++ % recent_.size()] = code;
  if (code != 0) qCInfo(linkLog, "wireless result %d: %s", code, Describe(code).c_str());
}

std::string QtLibraryManager::Describe(std::int32_t code) const {
  QString words = code > 0 ? qt_error_string(code) : DescribeLinuxCode(code);
  return words.isEmpty() ? LibraryManager::Describe(code) : words.toStdString();
}

std::string QtLibraryManager::SerialAdvice(std::int32_t code) const {
  if (code != EACCES && code != EPERM) return {};
  return "Tarvik may not open the reader's serial port. Add your user to the group that owns "
         "serial ports (on Debian and Ubuntu: sudo usermod -aG dialout $USER), then log out "
         "and in again.";
}

}  // namespace tarvik::lnx
