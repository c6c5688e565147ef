#include "link/linux/link_errors_linux.h"

#include <cerrno>
#include <iterator>

namespace tarvik::lnx {

Q_LOGGING_CATEGORY(linkLog, "tarvik.link")

namespace {

// Above every errno Linux defines (EHWPOISON is 133).
constexpr int kErrnoLimit = 200;

// Qt's socket layer words some failures of connect itself instead of
// passing the system's words on.
struct Phrase {
  const char* words;
  std::int32_t code;
};
constexpr Phrase kQtPhrases[] = {
    {"Host unreachable", EHOSTUNREACH},
    {"Network unreachable", ENETUNREACH},
    {"Host not found", kHostNotFound},
    {"Service cannot be found", kServiceNotFound},
};

}  // namespace

QString DescribeLinuxCode(std::int32_t code) {
  for (const Phrase& p : kQtPhrases)
    if (p.code == code && code < 0) return QString::fromLatin1(p.words);
  if (code == kUnknownFailure) return QStringLiteral("failed for a reason the system did not give");
  return {};
}

std::int32_t ErrnoFromWords(const QString& words, std::int32_t fallback) {
  const QString said = words.trimmed();
  if (said.isEmpty()) return fallback;
  for (const Phrase& p : kQtPhrases)
    if (said.compare(QLatin1String(p.words), Qt::CaseInsensitive) == 0) return p.code;
  for (int e = 1; e < kErrnoLimit; ++e)
    if (said == qt_error_string(e)) return e;
  return fallback;
}

}  // namespace tarvik::lnx
