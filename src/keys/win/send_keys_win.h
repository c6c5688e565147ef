// The keyboard on Windows: the focused window's layout, the keys as the
// target sees them (GetAsyncKeyState) and as the user's fingers hold them
// (raw input, on a thread of its own), and SendInput.
#pragma once
#include <msctf.h>

#include <memory>

#include "core/win/unique_any.h"
#include "keys/win/key_injector.h"
#include "keys/win/key_plan.h"
#include "keys/win/raw_keys_win.h"

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

// What the window's thread has active: its layout, the open state its input
// method window reports (asked with a message, so across processes, with a
// time limit), and `kind`, as the text services told it.
InputProfile InputProfileOf(HWND window, HKL layout, InputProfile::Kind kind);

class Win32Keyboard : public IKeyboard {
 public:
  const IKeyboardLayout& FocusedLayout() override;
  Modifiers HeldModifiers() const override;
  bool CapsLock() const override;
  InputProfile FocusedInputProfile() override;
  std::size_t Inject(std::span<const KeyEvent> events) override;

 private:
  // What FocusedLayout found last: the input method asked about is that window's.
  HWND focus_ = nullptr;
  HKL hkl_ = nullptr;
  Win32KeyboardLayout layout_;
  PhysicalKeys physical_;
  // The text services' profile manager, made at the first record; none where
  // it cannot be (no COM on this thread, or a system without it).
  struct Release {
    void operator()(ITfInputProcessorProfileMgr* p) const { p->Release(); }
  };
  std::unique_ptr<ITfInputProcessorProfileMgr, Release> profiles_;
  bool profilesTried_ = false;
};

}  // namespace tarvik::win
