// The keyboard on Windows: the focused window's layout, the keys as the
// target sees them (GetAsyncKeyState) and as the user's fingers hold them
// (raw input, on a thread of its own), and SendInput.
#pragma once
#include "core/win/unique_any.h"
#include "wedge/win/key_injector.h"
#include "wedge/win/key_plan.h"
#include "wedge/win/raw_keys_win.h"

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

// The layout's language writes with an input method that composes letter
// keys into other characters (Japanese, Chinese, Korean): characters go as
// Unicode packets there even when the input method does not say it is open
// (a program that takes text only through the Text Services Framework
// answers no one who asks the old way).
bool LayoutComposes(HKL layout);

class Win32Keyboard : public IKeyboard {
 public:
  const IKeyboardLayout& FocusedLayout() override;
  Modifiers HeldModifiers() const override;
  bool CapsLock() const override;
  bool InputMethodOpen() const override;
  std::size_t Inject(std::span<const KeyEvent> events) override;

 private:
  // What FocusedLayout found last: the input method asked about is that window's.
  HWND focus_ = nullptr;
  HKL hkl_ = nullptr;
  Win32KeyboardLayout layout_;
  PhysicalKeys physical_;
};

}  // namespace tarvik::win
