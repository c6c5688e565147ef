// Key injection the Windows way, in portable C++ without windows.h so that
// its tests run on any system: each token is planned against the focused
// window's layout and injected through IKeyboard around the keys held now, as
// the typing policy (typing_policy.h) says. SendInput fills IKeyboard on
// Windows (send_keys_win.h).
#pragma once
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "keys/keystroke_output.h"
#include "keys/win/key_plan.h"

namespace tarvik {

// The keyboard the program types on.
class IKeyboard {
 public:
  struct Modifiers {
    std::vector<std::uint8_t> down;      // down as the target sees them
    // Under the user's fingers; nothing when that cannot be told, and then
    // no modifier of the user's is pressed again once let go.
    std::optional<std::vector<std::uint8_t>> physical;
  };
  virtual ~IKeyboard() = default;
  // The layout of the window that has the keyboard focus, read afresh.
  virtual const IKeyboardLayout& FocusedLayout() = 0;
  virtual Modifiers HeldModifiers() const = 0;
  virtual bool CapsLock() const = 0;
  // The input method active for the window the last FocusedLayout found.
  virtual InputProfile FocusedInputProfile() = 0;
  // One call, so nothing the user types falls between the events. Returns
  // how many of them the system took.
  virtual std::size_t Inject(std::span<const KeyEvent> events) = 0;
};

class KeyInjector : public IKeySender {
 public:
  explicit KeyInjector(IKeyboard& keyboard) : kb_(keyboard) {}
  bool SendKeyTokens(std::string_view token) override;
  void SetKeyMode(KeyMode mode) override { mode_ = mode; }
  void BeginRecord() override;
  void EndRecord() override;

 private:
  IKeyboard& kb_;
  bool capsLock_ = false;
  KeyMode mode_ = KeyMode::kAuto;
  bool unicode_ = false;
  // Read as the record begins, for its first key; every later key reads the
  // layout again, as the user may switch it between two keys.
  const IKeyboardLayout* firstLayout_ = nullptr;
};

}  // namespace tarvik
