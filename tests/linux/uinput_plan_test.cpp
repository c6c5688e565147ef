#include "wedge/linux/uinput_linux.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "wedge/key_plan.h"

namespace tarvik::lnx {
namespace {

std::vector<EvdevEvent> Tap(std::uint16_t code) { return {{code, true}, {code, false}}; }
std::vector<EvdevEvent> With(std::uint16_t modifier, std::uint16_t code) {
  return {{modifier, true}, {code, true}, {code, false}, {modifier, false}};
}

TEST(UinputPlan, UsKeysWithCapsLockAndBraceTokens) {
  const std::tuple<const char*, bool, std::vector<EvdevEvent>, bool> cases[] = {
      {"a", false, Tap(KEY_A), true},
      {"A", false, With(KEY_LEFTSHIFT, KEY_A), true},
      {"a", true, With(KEY_LEFTSHIFT, KEY_A), true},  // Caps Lock inverts Shift on letters
      {"A", true, Tap(KEY_A), true},
      {"1", true, Tap(KEY_1), true},
      {"?", false, With(KEY_LEFTSHIFT, KEY_SLASH), true},
      {"\t", false, Tap(KEY_TAB), true},
      {"\r", false, {}, true},
      {"\u00E9", false, {}, false},
      {"{U+001D}", false, {}, false},
      {"{BREAK}", false, With(KEY_LEFTCTRL, KEY_PAUSE), true},
      {"{F10}", false, Tap(KEY_F10), true},
      {"{F11}", false, Tap(KEY_F11), true},
  };
  for (const auto& [token, caps, events, typeable] : cases) {
    const auto plan = PlanUinputKeys(token, caps);
    EXPECT_EQ(plan.events, events) << token << caps;
    EXPECT_EQ(plan.typeable, typeable) << token;
  }
  for (auto token : BraceTokens()) EXPECT_FALSE(PlanUinputKeys(token, false).events.empty()) << token;
}

}  // namespace
}  // namespace tarvik::lnx
