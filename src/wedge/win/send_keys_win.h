// The keyboard on Windows: the focused window's layout, the keys as the
// target sees them (GetAsyncKeyState) and as the user's fingers hold them (a
// low-level hook on a thread of its own), and SendInput.
#pragma once
#include <array>
#include <atomic>
#include <thread>

#include "core/win/unique_any.h"
#include "wedge/key_injector.h"
#include "wedge/key_plan.h"

namespace tarvik::win {

// The layout of one HKL, as the key planner asks about it.
class Win32KeyboardLayout : public IKeyboardLayout {
 public:
  explicit Win32KeyboardLayout(HKL hkl = nullptr) : hkl_(hkl) {}
  std::optional<Stroke> KeyFor(char32_t ch) const override;
  std::uint16_t ScanCode(std::uint8_t vk) const override;
  Output Produces(Stroke stroke, bool capsLock) const override;

 private:
  HKL hkl_;
};

// The window that has the keyboard focus (the foreground window when no
// focus is known), or none.
HWND FocusedWindow();

// Which keys the user's fingers hold. Injected keys (ours, or another
// program's) change what GetAsyncKeyState says but not this. A low-level
// hook on a thread that does nothing else, so it answers at once and never
// slows the system's keyboard; where it cannot be set, Known() is false.
class PhysicalKeys {
 public:
  PhysicalKeys();
  ~PhysicalKeys();
  PhysicalKeys(const PhysicalKeys&) = delete;
  PhysicalKeys& operator=(const PhysicalKeys&) = delete;
  bool Known() const { return known_; }
  bool Down(std::uint8_t vk) const { return down_[vk]; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp);
  void Run();

  std::array<std::atomic<bool>, 256> down_{};
  std::atomic<bool> known_{false};
  std::atomic<DWORD> threadId_{0};
  UniqueHandle ready_;
  std::thread thread_;
};

class Win32Keyboard : public IKeyboard {
 public:
  const IKeyboardLayout& FocusedLayout() override;
  Modifiers HeldModifiers() const override;
  bool CapsLock() const override;
  bool InputMethodOpen() const override;
  std::size_t Inject(std::span<const KeyEvent> events) override;

 private:
  Win32KeyboardLayout layout_;
  PhysicalKeys physical_;
};

}  // namespace tarvik::win
