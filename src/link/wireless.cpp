#include "link/wireless.h"

namespace tarvik {

std::string wcl::Describe(std::int32_t code) {
  switch (code) {
    case kOk: return "done";
    case kBadAddress: return "not a reader address";
    case kBusy: return "an attempt is already under way";
    case kNotConnected: return "no link";
    case kNoRadio: return "no Bluetooth radio";
    case kBufferOverflow: return "the reader takes no data";
    case kLinkLost: return "the link was lost";
    case kClosedByPeer: return "the reader closed the link";
    default: return {};
  }
}

std::string LibraryManager::Describe(std::int32_t code) const {
  const std::string words = wcl::Describe(code);
  return words.empty() ? "error " + std::to_string(code) : words;
}

}  // namespace tarvik
