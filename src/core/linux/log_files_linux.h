// The diagnostics log's files on Linux: tarvik.log in the program's state
// folder ($XDG_STATE_HOME/tarvik, by default ~/.local/state/tarvik) and the
// one before it, tarvik.1.log.
#pragma once
#include <string>

#include "core/diagnostics.h"

namespace tarvik::lnx {

class LinuxLogFiles : public ILogFiles {
 public:
  // The folder is made when missing; where there is none, nothing is written.
  explicit LinuxLogFiles(std::string folder);
  ~LinuxLogFiles() override;
  LinuxLogFiles(const LinuxLogFiles&) = delete;
  LinuxLogFiles& operator=(const LinuxLogFiles&) = delete;

  std::uint64_t CurrentSize() override;
  bool Append(std::string_view bytes) override;
  bool Rotate() override;
  const std::string& Path() const { return path_; }

 private:
  void CloseFile();

  std::string path_, previous_;
  int fd_ = -1;  // open between lines; closed to rotate
};

// The local time, for the log's lines.
LocalTime LocalNow();

}  // namespace tarvik::lnx
