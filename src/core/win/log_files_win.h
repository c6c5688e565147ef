// The diagnostics log's files on Windows: %LOCALAPPDATA%\Tarvik\tarvik.log
// and the one before it, tarvik.1.log.
#pragma once
#include <string>

#include "core/diagnostics.h"
#include "core/win/unique_any.h"

namespace tarvik::win {

class Win32LogFiles : public ILogFiles {
 public:
  // The folder is made when missing; where there is none, nothing is written.
  Win32LogFiles();
  explicit Win32LogFiles(std::wstring folder);
  std::uint64_t CurrentSize() override;
  bool Append(std::string_view bytes) override;
  bool Rotate() override;
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_, previous_;
  UniqueFile file_;  // open between lines; closed to rotate
};

// The local time, for the log's lines.
LocalTime LocalNow();

}  // namespace tarvik::win
