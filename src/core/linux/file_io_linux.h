// Whole reads and writes on a file descriptor, again after an interruption,
// and a descriptor closed however the scope ends.
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

}  // namespace tarvik::lnx
