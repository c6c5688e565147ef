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

// Which keyboard holds which key: a key is down while a keyboard holds it,
// and a keyboard that goes away lets go of its own keys only. The watcher's
// thread records the changes; the typing thread reads, and forgets keys whose
// releases went where raw input does not look. Each key's holders are one
// atomic word, so neither thread waits on the other.
class HeldKeys {
 public:
  void Change(KeyChange change, HANDLE device);
  void Removed(HANDLE device);
  // Held, by a keyboard that is not known (before the watcher began).
  void HeldBefore(std::uint8_t vk) { holders_[vk] |= kUnknownKeyboard; }
  bool Down(std::uint8_t vk) const { return holders_[vk] != 0; }
  // Keys held here that the system says are up are let go: their releases
  // were made on the secure desktop or the lock screen.
  template <class StillDown>
  void ForgetReleased(const StillDown& stillDown) {
    for (std::size_t vk = 0; vk < holders_.size(); ++vk) {
      std::uint64_t held = holders_[vk];
      // A hold that changed since the question is left alone.
      if (held && !stillDown(static_cast<std::uint8_t>(vk))) holders_[vk].compare_exchange_strong(held, 0);
    }
  }
  void ForgetAll() {
    for (auto& h : holders_) h = 0;
  }

 private:
  // The last bit stands for every keyboard without a bit of its own.
  static constexpr std::size_t kKeyboardBits = 63;
  static constexpr std::uint64_t kUnknownKeyboard = std::uint64_t{1} << kKeyboardBits;
  std::uint64_t Bit(HANDLE device);  // watcher thread only

  std::array<std::atomic<std::uint64_t>, 256> holders_{};
  std::array<HANDLE, kKeyboardBits> keyboards_{};  // each bit's keyboard; watcher thread only
};

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
  bool Down(std::uint8_t vk) const { return held_.Down(vk); }

  // For the process's watcher, if one runs (else nothing); called on the
  // program's own thread.
  // Keys it holds that GetAsyncKeyState reports up are let go: keys released
  // on the secure desktop or the lock screen (Win+L, Ctrl+Alt+Del) never
  // come up in raw input. Every record's start calls this.
  static void ForgetReleased();
  // Every key let go: the session was unlocked (WTS_SESSION_UNLOCK), or the
  // input desktop switched (the watcher itself hears of that, from Windows 8).
  static void ForgetAll();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static void CALLBACK OnDesktopSwitch(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD);
  void Run();
  void OnInput(HRAWINPUT input);

  HeldKeys held_;
  std::atomic<bool> known_{false};
  std::atomic<DWORD> threadId_{0};
  UniqueHandle ready_;
  std::thread thread_;
};

}  // namespace tarvik::win
