// A file the user edits beside the settings, as the rules file is.
#pragma once
#include <string>

#include "core/watched_file.h"

namespace tarvik::lnx {

class LinuxWatchedFile : public IWatchedFile {
 public:
  explicit LinuxWatchedFile(std::string path) : path_(std::move(path)) {}
  std::string Describe() const override { return path_; }
  std::string Stamp() const override;
  std::optional<std::string> Read(std::size_t limit, std::string& why) const override;
  bool CreateIfMissing(std::string_view bytes, std::string& why) override;

 private:
  std::string path_;
};

}  // namespace tarvik::lnx
