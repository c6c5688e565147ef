#include "bluetooth/linux/library_linux.h"

#include <QString>

#include "bluetooth/linux/link_errors_linux.h"

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

}  // namespace tarvik::lnx
