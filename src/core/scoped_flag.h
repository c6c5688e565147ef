// Sets a flag for the length of a scope; it is cleared however the scope
// ends. Marks a handler as running while it waits in event processing.
#pragma once

namespace tarvik {

class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace tarvik
