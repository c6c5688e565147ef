// The named keys a prefix, a suffix or a rule can type ("{TAB}", "{F1}"...),
// in the order the key lists show them. Each is given as Windows knows it, by
// virtual-key code and scan code; the Linux side maps the virtual key to its
// keysym.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvik {

// Virtual-key codes of the named keys, numerically as Windows defines them.
namespace vk {
inline constexpr std::uint8_t kCancel = 0x03, kBack = 0x08, kTab = 0x09, kReturn = 0x0D,
                              kEscape = 0x1B, kNext = 0x22, kEnd = 0x23, kHome = 0x24,
                              kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28,
                              kF1 = 0x70, kF12 = 0x7B;
}

struct BraceKey {
  std::uint8_t vk;
  std::uint16_t scan;  // set-1 scan code, 0xE0 prefix in the high byte
  bool withCtrl;       // Break is Ctrl+Cancel
};
// The key for a token, if it is one.
std::optional<BraceKey> FindBraceKey(std::string_view token);
// Every brace token, in the order the key lists show them.
std::vector<std::string_view> BraceTokens();

}  // namespace tarvik
