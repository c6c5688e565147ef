// The user's keys from raw input, which keyboard holds them, and the layouts whose input methods compose
// letter keys.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/common/bench_win.h"
#include "keys/win/key_target_win.h"
#include "keys/win/raw_keys_win.h"
#include "keys/win/send_keys_win.h"
#include "win_test_util.h"

namespace tarvik::win {
namespace {

// A device handle as Windows gives a real keyboard's records; injected ones carry none.
const HANDLE kKeyboard = reinterpret_cast<HANDLE>(std::uintptr_t{0x1234});

// Each key is tried both down and up.
TEST(RawKeys, ADeviceKeyBecomesItsSideOfTheModifier) {
  const struct {
    const char* name;
    USHORT vk, make, flags;  // what a keyboard's raw record carries
    std::optional<std::uint8_t> want;
  } cases[] = {
      {"left Shift", VK_SHIFT, 0x2A, 0, VK_LSHIFT},
      {"right Shift", VK_SHIFT, 0x36, 0, VK_RSHIFT},
      {"left Ctrl", VK_CONTROL, 0x1D, 0, VK_LCONTROL},
      {"right Ctrl", VK_CONTROL, 0x1D, RI_KEY_E0, VK_RCONTROL},
      {"left Alt", VK_MENU, 0x38, 0, VK_LMENU},
      {"right Alt (AltGr)", VK_MENU, 0x38, RI_KEY_E0, VK_RMENU},
      {"left Windows", VK_LWIN, 0x5B, RI_KEY_E0, VK_LWIN},
      {"right Windows", VK_RWIN, 0x5C, RI_KEY_E0, VK_RWIN},
      {"a driver that already says left or right", VK_RSHIFT, 0x36, 0, VK_RSHIFT},
      {"a letter", 'A', 0x1E, 0, 'A'},
      // Sent around a cursor key while NumLock is on: no Shift was touched.
      {"the E0 Shift around a cursor key", VK_SHIFT, 0x2A, RI_KEY_E0, std::nullopt},
      {"a code that is no key", 0xFF, 0x1D, RI_KEY_E1, std::nullopt},
  };
  for (const auto& c : cases)
    for (const bool up : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (up ? " up" : " down"));
      RAWKEYBOARD record{c.make, USHORT(c.flags | (up ? RI_KEY_BREAK : 0)), 0, c.vk,
                         UINT(up ? WM_KEYUP : WM_KEYDOWN), 0};
      EXPECT_EQ(KeyChangeFromRaw(record, kKeyboard),
                c.want ? std::optional(KeyChange{*c.want, !up}) : std::nullopt);
      // The same record put in by SendInput comes with no device: not the user's.
      EXPECT_EQ(KeyChangeFromRaw(record, nullptr), std::nullopt);
      // Ours carry our tag, even where the system names a device for them.
      record.ExtraInformation = kOwnInputTag;
      EXPECT_EQ(KeyChangeFromRaw(record, kKeyboard), std::nullopt);
    }
}

std::vector<RAWINPUTDEVICE> Registered() {
  UINT count = 0;
  GetRegisteredRawInputDevices(nullptr, &count, sizeof(RAWINPUTDEVICE));
  std::vector<RAWINPUTDEVICE> devices(count);
  if (count && GetRegisteredRawInputDevices(devices.data(), &count, sizeof(RAWINPUTDEVICE)) == UINT(-1))
    ADD_FAILURE() << "GetRegisteredRawInputDevices failed, error " << GetLastError();
  devices.resize(count);
  return devices;
}

// The watcher reads a key when its thread next runs: on a loaded machine that takes a while.
constexpr DWORD kArrivalMs = 10000;

struct Key { std::uint8_t vk; USHORT scan; bool extended; };
constexpr Key kRightCtrl{VK_RCONTROL, 0x1D, true}, kLeftShift{VK_LSHIFT, 0x2A, false};

constexpr ULONG_PTR kUser = 0;

bool Send(Key key, bool up, ULONG_PTR tag = kUser) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = key.vk;
  in.ki.wScan = key.scan;
  in.ki.dwFlags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  in.ki.dwExtraInfo = tag;
  return SendInput(1, &in, sizeof(in)) == 1;
}

bool AsyncDown(std::uint8_t vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

// Steps: a+ a- b+ b-: keyboard a or b presses or releases Shift; a! b!: it
// goes away; h: Shift held before the watcher began; a record starts with the
// system saying every key is up (f) or Shift still down (k); F: everything is
// forgotten.
TEST(RawKeys, AKeyboardThatGoesAwayLetsGoOfItsOwnKeysOnly) {
  const struct {
    const char* steps;
    bool down;
  } cases[] = {
      {"a+", true},          {"a+ a-", false},       {"a+ a!", false},
      {"a+ b!", true},       {"a+ b+ a!", true},     {"a+ b+ a! b!", false},
      {"a+ a! a+", true},    {"h", true},            {"h a-", false},  // a release ends any hold
      {"h a!", true},        {"a+ b+ a-", true},     {"a+ f", false},
      {"h b+ f", false},     {"a+ k", true},         {"h k", true},
      {"a+ b+ F", false},    {"a+ F a+", true},
  };
  const HANDLE a = kKeyboard, b = reinterpret_cast<HANDLE>(std::uintptr_t{0x5678});
  for (const auto& c : cases) {
    HeldKeys held;
    std::istringstream steps(c.steps);
    for (std::string s; steps >> s;) {
      const HANDLE device = s[0] == 'a' ? a : b;
      if (s == "h") held.HeldBefore(VK_LSHIFT);
      else if (s == "f" || s == "k")
        held.ForgetReleased([&](std::uint8_t vk) { return s == "k" && vk == VK_LSHIFT; });
      else if (s == "F") held.ForgetAll();
      else if (s[1] == '!') held.Removed(device);
      else held.Change({VK_LSHIFT, s[1] == '+'}, device);
    }
    EXPECT_EQ(held.Down(VK_LSHIFT), c.down) << c.steps;
    EXPECT_FALSE(held.Down(VK_RSHIFT)) << c.steps;
  }
  // Past the keyboards with a place of their own, the others share one.
  HeldKeys many;
  for (std::uintptr_t k = 1; k <= 70; ++k) many.Change({static_cast<std::uint8_t>(k), true}, HANDLE(k));
  many.Removed(HANDLE(std::uintptr_t{5}));
  for (std::uintptr_t k = 1; k <= 70; ++k) EXPECT_EQ(many.Down(static_cast<std::uint8_t>(k)), k != 5) << k;
}

// The keyboard's raw input goes to a window, also while another program has
// the focus. Wine names its one keyboard as the device of every key, so an
// untagged SendInput stands in for the user's finger; ours, tagged, must
// change nothing, and (like a key released on the lock screen) is dropped when
// a record starts. Wine hands keys out only while a window is in front, and
// lets go of a key that only SendInput pressed when that window's X focus
// comes. No Alt: its release would open the menu of that window, ours.
TEST(RawKeys, TheUsersKeysReachTheWatcherOursAndThoseOfAKeyboardGoneDoNot) {
  const UniqueHwnd front = testing::FrontWindow();
  {
    PhysicalKeys keys;
    ASSERT_TRUE(keys.Known()) << "raw input for the keyboard could not be had";
    const auto registered = Registered();
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].usUsagePage, 0x01);
    EXPECT_EQ(registered[0].usUsage, 0x06);
    EXPECT_TRUE(registered[0].dwFlags & RIDEV_INPUTSINK);
    {  // raw input goes to one window per process: a second watcher would take it from the first
      PhysicalKeys second;
      EXPECT_FALSE(second.Known());
    }
    EXPECT_EQ(Registered().size(), 1u);
    const auto removed = [&](LPARAM device) {
      SendMessageW(registered[0].hwndTarget, WM_INPUT_DEVICE_CHANGE, GIDC_REMOVAL, device);
    };
    ASSERT_TRUE(Send(kRightCtrl, false));
    ASSERT_TRUE(testing::PumpUntil([&] { return keys.Down(VK_RCONTROL); }, kArrivalMs));
    removed(LPARAM{0x5678});  // another keyboard
    EXPECT_TRUE(keys.Down(VK_RCONTROL));
    ASSERT_TRUE(Send(kLeftShift, false));
    ASSERT_TRUE(testing::PumpUntil([&] { return keys.Down(VK_LSHIFT); }, kArrivalMs));
    ASSERT_TRUE(Send(kLeftShift, true, kOwnInputTag));
    // Raw input arrives in order: once the next key is seen, ours was read before it.
    ASSERT_TRUE(Send(kRightCtrl, true));
    EXPECT_TRUE(testing::PumpUntil([&] { return !keys.Down(VK_RCONTROL); }, kArrivalMs));
    EXPECT_TRUE(keys.Down(VK_LSHIFT)) << "our own release was taken for the user's";
    ASSERT_TRUE(testing::PumpUntil([] { return !AsyncDown(VK_LSHIFT) && !AsyncDown(VK_RCONTROL); }, kArrivalMs));
    Win32KeyTarget().Query();  // the reach decision starts every record
    EXPECT_FALSE(keys.Down(VK_LSHIFT));

    ASSERT_TRUE(Send(kRightCtrl, false));
    ASSERT_TRUE(testing::PumpUntil([&] { return keys.Down(VK_RCONTROL); }, kArrivalMs));
    RAWINPUTDEVICELIST devices[16];
    UINT count = std::size(devices);
    ASSERT_NE(GetRawInputDeviceList(devices, &count, sizeof(RAWINPUTDEVICELIST)), UINT(-1));
    for (const auto& d : std::span(devices, count))  // Wine's one keyboard, which every key here came from
      if (d.dwType == RIM_TYPEKEYBOARD) removed(reinterpret_cast<LPARAM>(d.hDevice));
    EXPECT_FALSE(keys.Down(VK_RCONTROL));
    ASSERT_TRUE(Send(kRightCtrl, true));
    EXPECT_TRUE(testing::PumpUntil([] { return !AsyncDown(VK_RCONTROL); }, kArrivalMs));
  }
  EXPECT_TRUE(Registered().empty());
  // The next watcher may have it: through the whole keyboard, what Inject presses
  // is down as the system sees it, and never under the user's fingers.
  Win32Keyboard keyboard;
  ASSERT_TRUE(keyboard.HeldModifiers().physical) << "the next watcher could not have raw input";
  KeyEvent shift{vk::kLShift, 0x2A, false, false, KeyEvent::Role::Modifier};
  const auto inject = [&](bool up) {
    shift.up = up;
    return keyboard.Inject(std::span(&shift, 1)) == 1;
  };
  // SendInput sets the key state before it returns, but the window's X focus
  // can still come and let go of ours: a Shift not seen down is pressed again.
  EXPECT_TRUE(testing::PumpUntil([&] {
    if (keyboard.HeldModifiers().down == std::vector{vk::kLShift}) return true;
    EXPECT_TRUE(inject(false));
    return false;
  }, kArrivalMs));
  // Raw input arrives in order: once the watcher has the next key, ours went by before it.
  ASSERT_TRUE(Send(kRightCtrl, false));
  EXPECT_TRUE(testing::PumpUntil([&] { return !keyboard.HeldModifiers().physical->empty(); }, kArrivalMs));
  EXPECT_EQ(keyboard.HeldModifiers().physical, std::vector<std::uint8_t>{VK_RCONTROL})
      << "our own Shift was taken for the user's";
  ASSERT_TRUE(inject(true));
  ASSERT_TRUE(Send(kRightCtrl, true));
  EXPECT_TRUE(testing::PumpUntil([&] {
    const auto held = keyboard.HeldModifiers();
    return held.down.empty() && held.physical->empty();
  }, kArrivalMs));
}

}  // namespace
}  // namespace tarvik::win
