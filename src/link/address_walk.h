// One connect attempt over every address a host name resolved to, in order.
// "localhost" and many names give an IPv6 address first; a reader that
// listens on IPv4 only must still be reached. The attempt fails only when
// every address has failed, with the last one's error.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tarvik {

class AddressWalk {
 public:
  // Starts connecting to address `index`: 0 when its outcome comes later,
  // else the error it failed with at once.
  using StartFn = std::function<std::int32_t(std::size_t index)>;

  AddressWalk() = default;
  AddressWalk(std::size_t count, StartFn start) : count_(count), start_(std::move(start)) {}

  // 0 when an address is under way; else every one failed at once, and the
  // attempt's error (`noAddress` when there is none at all).
  std::int32_t Begin(std::int32_t noAddress);
  // The address under way failed: on to the next. As Begin.
  std::int32_t Failed(std::int32_t error);
  std::size_t Current() const { return current_; }
  bool IsLast() const { return current_ + 1 >= count_; }

 private:
  std::int32_t StartFrom(std::size_t index, std::int32_t error);

  std::size_t count_ = 0;
  StartFn start_;
  std::size_t current_ = 0;
};

}  // namespace tarvik
