#include "keys/brace_keys.h"

#include <array>

namespace tarvik {
namespace {

struct NamedKey {
  std::string_view token;
  BraceKey key;
};

// The function key Fn.
constexpr std::uint8_t F(int n) { return static_cast<std::uint8_t>(vk::kF1 + n - 1); }
static_assert(F(12) == vk::kF12);

// Scan codes of these keys are the same on every layout. The navigation keys
// and Break carry the 0xE0 prefix: without the extended flag the arrows would
// act as the numeric keypad's keys.
constexpr std::array<NamedKey, 24> kBraceKeys = {{
    {"{BS}", {vk::kBack, 0x0E, false}},      {"{BREAK}", {vk::kCancel, 0xE046, true}},
    {"{DOWN}", {vk::kDown, 0xE050, false}},  {"{END}", {vk::kEnd, 0xE04F, false}},
    {"{ENTER}", {vk::kReturn, 0x1C, false}}, {"{ESC}", {vk::kEscape, 0x01, false}},
    {"{HOME}", {vk::kHome, 0xE047, false}},  {"{LEFT}", {vk::kLeft, 0xE04B, false}},
    {"{PGDN}", {vk::kNext, 0xE051, false}},  {"{RIGHT}", {vk::kRight, 0xE04D, false}},
    {"{TAB}", {vk::kTab, 0x0F, false}},      {"{UP}", {vk::kUp, 0xE048, false}},
    {"{F1}", {F(1), 0x3B, false}},           {"{F2}", {F(2), 0x3C, false}},
    {"{F3}", {F(3), 0x3D, false}},           {"{F4}", {F(4), 0x3E, false}},
    {"{F5}", {F(5), 0x3F, false}},           {"{F6}", {F(6), 0x40, false}},
    {"{F7}", {F(7), 0x41, false}},           {"{F8}", {F(8), 0x42, false}},
    {"{F9}", {F(9), 0x43, false}},           {"{F10}", {F(10), 0x44, false}},
    {"{F11}", {F(11), 0x57, false}},         {"{F12}", {F(12), 0x58, false}},
}};

}  // namespace

std::vector<std::string_view> BraceTokens() {
  std::vector<std::string_view> tokens;
  for (const auto& k : kBraceKeys) tokens.push_back(k.token);
  return tokens;
}

std::optional<BraceKey> FindBraceKey(std::string_view token) {
  for (const auto& k : kBraceKeys)
    if (k.token == token) return k.key;
  return std::nullopt;
}

}  // namespace tarvik
