// Whole reads and writes on a file descriptor, again after an interruption,
// a descriptor closed however the scope ends, and a file replaced in one step.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvik::lnx {

struct Fd {
  explicit Fd(int descriptor) : fd(descriptor) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  const int fd;
};

// All of `bytes`; false, with errno set, when the system took less.
bool WriteAll(int fd, std::string_view bytes);
// Up to `max` bytes, until the end of the file; false, with errno set, on a
// read error.
bool ReadUpTo(int fd, std::size_t max, std::string& bytes);

// Replaces the file at `path` (a link's target, when it is a link) with
// `bytes` in one step: a new file beside it, written and flushed to the
// disk, then renamed over it, so a crash leaves the old contents or the new,
// never part of them. The old file's permissions carry over; a new file is
// the owner's alone when `ownerOnly`, else as the umask has it. False on failure,
// the old file as it was, and `why` says what was attempted and the
// system's reason.
bool SaveFileAtomically(const std::string& path, std::string_view bytes,
                        bool ownerOnly, std::string& why);

}  // namespace tarvik::lnx
