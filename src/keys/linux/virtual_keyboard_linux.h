// Typing on a wlroots desktop (sway and others) through a virtual keyboard
// of our own (zwp_virtual_keyboard_v1). The compositor takes the keymap we
// give it, so every character is on a key of its own with no modifier, and
// a character missing from it is bound to a spare keycode by sending a new
// keymap. sway 1.7 to 1.9 put the user's configured layout on every
// keyboard, virtual ones too, at each reload or `input ... xkb_*` command,
// without a word to the keyboard's owner (no event tells us): so ours goes
// again at the start of every record, and the record's keys are read through
// it. The compositor keeps each keyboard's modifiers apart: the user's held
// Shift or Ctrl does not apply to our keys, and nothing of ours is down
// between calls.
#pragma once
#include <memory>
#include <string>

#include "keys/linux/xkey_injector.h"

namespace tarvik::lnx {

class WaylandVirtualKeyboard : public IXKeyboard {
 public:
  // Its own connection to $WAYLAND_DISPLAY. Nothing, and `problem` says why,
  // when there is no display, it has no seat or no virtual keyboards, or it
  // refuses ours.
  static std::unique_ptr<WaylandVirtualKeyboard> Open(std::string& problem);
  ~WaylandVirtualKeyboard() override;
  WaylandVirtualKeyboard(const WaylandVirtualKeyboard&) = delete;
  WaylandVirtualKeyboard& operator=(const WaylandVirtualKeyboard&) = delete;

  const XKeymap& Keymap() override { return map_; }
  XKeyboardState State() override { return {}; }
  std::optional<std::vector<Keycode>> PhysicallyHeld() override { return std::vector<Keycode>{}; }
  // Our keymap goes first when it is not the compositor's for certain.
  bool Send(std::span<const XKeyAction> events) override;
  // A keysym is bound once the compositor has the keymap; a keycode left with
  // none goes with the next keymap sent, before any key is.
  bool Remap(Keycode code, Keysym sym) override;
  // The compositor may have put another keymap on our keyboard since it last
  // had ours: ours goes again before the next key.
  void Reassert() { stale_ = true; }

 private:
  struct Connection;
  explicit WaylandVirtualKeyboard(std::unique_ptr<Connection> c);
  bool Upload();
  // Upload, then wait until the compositor has it.
  bool Commit();

  std::unique_ptr<Connection> c_;
  XKeymap map_;
  bool stale_ = false;
};

class VirtualKeyboardSender : public IKeySender {
 public:
  static std::unique_ptr<VirtualKeyboardSender> Open(std::string& problem,
                                                     IDiagnostics& log = NoLog());
  bool SendKeyTokens(std::string_view token) override { return injector_.SendKeyTokens(token); }
  bool CanType(std::string_view token) override { return injector_.CanType(token); }
  bool CanTypeAll(std::span<const std::string> t) override { return injector_.CanTypeAll(t); }
  std::optional<std::chrono::milliseconds> Ready(std::span<const std::string> t) override {
    return injector_.Ready(t);
  }
  // Our keymap again before the record's first key: a compositor may have
  // put the configured layout on our keyboard since the last record.
  void BeginRecord() override {
    keyboard_->Reassert();
    injector_.BeginRecord();
  }
  void EndRecord() override { injector_.EndRecord(); }

 private:
  VirtualKeyboardSender(std::unique_ptr<WaylandVirtualKeyboard> keyboard, IDiagnostics& log)
      : keyboard_(std::move(keyboard)), injector_(*keyboard_, log) {}

  std::unique_ptr<WaylandVirtualKeyboard> keyboard_;
  XKeyInjector injector_;  // after the keyboard: it undoes its bindings through it
};

}  // namespace tarvik::lnx
