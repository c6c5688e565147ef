// SendKeyTokens on Windows: the plan for a token, made against the keyboard
// layout of the window that has the focus, injected with SendInput.
#pragma once
#include "common/win/unique_any.h"
#include "wedge/key_plan.h"
#include "wedge/keystroke_output.h"

namespace tarvik::win {

// The layout of one HKL, as the key planner asks about it.
class Win32KeyboardLayout : public IKeyboardLayout {
 public:
  explicit Win32KeyboardLayout(HKL hkl) : hkl_(hkl) {}
  std::optional<Stroke> KeyFor(char32_t ch) const override;
  std::uint16_t ScanCode(std::uint8_t vk) const override;
  Output Produces(Stroke stroke, bool capsLock) const override;

 private:
  HKL hkl_;
};

// The layout of the thread that owns the focused window (the foreground
// window when no focus is known): keys are typed as that window reads them.
HKL FocusedWindowLayout();
// The modifiers held down now (Caps Lock is read once per record).
KeyboardState CurrentKeyboardState();
// Caps Lock's toggle state.
bool CapsLockOn();
// Injects the plan in one SendInput call; when the system takes only part of
// it, releases whatever the part left pressed. Returns the events inserted.
unsigned SendPlan(const KeyPlan& plan);

class Win32KeySender : public IKeySender {
 public:
  void SendKeyTokens(std::string_view token) override;
  void BeginRecord() override;

 private:
  bool capsLock_ = false;
};

}  // namespace tarvik::win
