// Result codes of the Linux links. The system's own errno values are passed
// on as they are; Qt reports a failure as an error kind and the system's
// words. The kind gives the number; only where Qt has one kind for many of
// the system's errors is the number found back from the words.
#pragma once
#include <QLoggingCategory>
#include <QString>

#include <cstdint>

namespace tarvik::lnx {

Q_DECLARE_LOGGING_CATEGORY(linkLog)

// Failures without an errno, beside wcl's own codes.
inline constexpr std::int32_t kHostNotFound = -101;     // the name resolved to nothing
inline constexpr std::int32_t kServiceNotFound = -102;  // the device offers no such service
inline constexpr std::int32_t kUnknownFailure = -103;   // Qt gave no reason it could tell

// The words for one of the codes above; empty for any other.
QString DescribeLinuxCode(std::int32_t code);

// The errno whose words (as Qt's qt_error_string gives them, or Qt's own
// phrase for it) are `words`; `fallback` when none has them.
std::int32_t ErrnoFromWords(const QString& words, std::int32_t fallback);

}  // namespace tarvik::lnx
