#include "wedge/win/key_target_win.h"

#include <gtest/gtest.h>

#include "tools/common/bench_win.h"
#include "win_test_util.h"
#include "wedge/win/send_keys_win.h"

namespace tarvik::win {
namespace {

// An ordinary window of an ordinary program, in front: the keys can reach
// it, and the program that owns it is named.
TEST(KeyTarget, AnOrdinaryWindowInFrontTakesTheKeys) {
  UniqueHwnd window(CreateWindowExW(0, L"EDIT", L"key target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                    300, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(window);
  ASSERT_TRUE(bench::ForceForeground(window.get(), 5000));
  const KeyTarget t = Win32KeyTarget().Query();
  EXPECT_TRUE(t.inputDesktopIsOurs);
  EXPECT_TRUE(t.hasForeground);
  ASSERT_TRUE(t.targetIntegrity);
  EXPECT_EQ(*t.targetIntegrity, t.ownIntegrity);
  EXPECT_GE(t.ownIntegrity, 0x1000u);  // low or above: a real level was read
  EXPECT_EQ(t.program, "tarvik_win_tests.exe");
  EXPECT_TRUE(DecideReach(t).ok());
}

// Keys the program injects are not the user's: they change what the target
// sees, never what the user's fingers are said to hold.
TEST(Keyboard, InjectedKeysAreNotTheUsers) {
  UniqueHwnd window(CreateWindowExW(0, L"EDIT", L"keyboard", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                    300, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(bench::ForceForeground(window.get(), 5000));
  Win32Keyboard keyboard;
  const KeyEvent down{vk::kLShift, 0x2A, false, false, KeyEvent::Role::Modifier};
  KeyEvent up = down;
  up.up = true;
  ASSERT_EQ(keyboard.Inject(std::span(&down, 1)), 1u);
  testing::PumpUntil([] { return false; }, 200);
  auto held = keyboard.HeldModifiers();
  EXPECT_EQ(held.down, std::vector<std::uint8_t>{vk::kLShift});
  EXPECT_TRUE(held.physical.empty());
  ASSERT_EQ(keyboard.Inject(std::span(&up, 1)), 1u);
  testing::PumpUntil([&] { return keyboard.HeldModifiers().down.empty(); }, 2000);
  EXPECT_TRUE(keyboard.HeldModifiers().down.empty());
}

}  // namespace
}  // namespace tarvik::win
