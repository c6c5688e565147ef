// Which keys the user's fingers hold, from raw keyboard input. Windows hands
// raw input to a registered window whatever window has the focus (with
// RIDEV_INPUTSINK), and stamps every key a real keyboard sends with that
// keyboard's device handle; keys put in by SendInput (ours, or another
// program's) come with no device. Unlike a low-level keyboard hook, raw input
// has no time limit: a busy or paged-out process reads its keys late but is
// never dropped from the chain without a word.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "core/win/unique_any.h"

namespace tarvik::win {

// What our own SendInput events carry as their extra information, so that
// they are told from the user's keys where the system gives injected input a
// device handle too (Wine 8 gives every key, real or injected, the one
// keyboard it has). Other programs' injected keys are told apart only by the
// missing device, as Windows gives them.
constexpr ULONG_PTR kOwnInputTag = 0x54617276;  // "Tarv"

// One key going down or up.
struct KeyChange {
  std::uint8_t vk = 0;
  bool down = false;
  bool operator==(const KeyChange&) const = default;
};

// What one raw keyboard record says about the user's keys: the key, with
// Shift, Ctrl and Alt told left from right, or nothing for injected keys
// (no device, or our own tag) and codes that are no key.
std::optional<KeyChange> KeyChangeFromRaw(const RAWKEYBOARD& key, HANDLE device);

// The modifier keys down now as the system sees them (ours, the user's,
// another program's), left and right apart, in the order Shift, Ctrl, Alt,
// Windows.
std::vector<std::uint8_t> ModifiersDown();

// A window of its own thread that is sent every keyboard's raw input, so it
// answers at once and never waits on the program. Where raw input cannot be
// had, Known() is false.
class PhysicalKeys {
 public:
  PhysicalKeys();
  ~PhysicalKeys();
  PhysicalKeys(const PhysicalKeys&) = delete;
  PhysicalKeys& operator=(const PhysicalKeys&) = delete;
  bool Known() const { return known_; }
  bool Down(std::uint8_t vk) const { return down_[vk]; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Run();
  void OnInput(HRAWINPUT input);

  std::array<std::atomic<bool>, 256> down_{};
  std::atomic<bool> known_{false};
  std::atomic<DWORD> threadId_{0};
  UniqueHandle ready_;
  std::thread thread_;
};

}  // namespace tarvik::win
