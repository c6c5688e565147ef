#include "link/address_walk.h"

namespace tarvik {

std::int32_t AddressWalk::Begin(std::int32_t noAddress) { return StartFrom(0, noAddress); }

std::int32_t AddressWalk::Failed(std::int32_t error) { return StartFrom(current_ + 1, error); }

std::int32_t AddressWalk::StartFrom(std::size_t index, std::int32_t error) {
  for (current_ = index; current_ < count_; ++current_) {
    error = start_(current_);
    if (error == 0) return 0;
  }
  return error;
}

}  // namespace tarvik
