// A text file the user edits while the program runs: read when it changes,
// created from a template when the user asks to edit it and it is not there.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

class IWatchedFile {
 public:
  virtual ~IWatchedFile() = default;
  // Its path, for the log and the user.
  virtual std::string Describe() const = 0;
  // Changes whenever the file does (size, time of the last write, which file
  // the path names); empty while there is none.
  virtual std::string Stamp() const = 0;
  // Its bytes; nothing, with the system's reason in `why`, when it cannot be
  // read or holds more than `limit` bytes.
  virtual std::optional<std::string> Read(std::size_t limit, std::string& why) const = 0;
  // Writes `bytes` as a new file unless one is there already; false, with
  // the system's reason, when neither is so afterwards.
  virtual bool CreateIfMissing(std::string_view bytes, std::string& why) = 0;
};

}  // namespace tarvik
