// A file the user edits beside the settings, as the rules file is.
#pragma once
#include <string>

#include "core/watched_file.h"
#include "core/win/unique_any.h"

namespace tarvik::win {

class Win32WatchedFile : public IWatchedFile {
 public:
  explicit Win32WatchedFile(std::wstring path) : path_(std::move(path)) {}
  std::string Describe() const override;
  std::string Stamp() const override;
  std::optional<std::string> Read(std::size_t limit, std::string& why) const override;
  bool CreateIfMissing(std::string_view bytes, std::string& why) override;

 private:
  std::wstring path_;
};

}  // namespace tarvik::win
