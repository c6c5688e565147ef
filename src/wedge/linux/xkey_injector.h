// Typing through an X server, portable: each token is planned against the
// keyboard mapping and sent through IXKeyboard around the modifier keys held
// now, as the typing policy (typing_policy.h) says. A character the mapping
// lacks is bound to a spare keycode first.
#pragma once
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/diagnostics.h"
#include "wedge/keystroke_output.h"
#include "wedge/linux/xkb_plan.h"

namespace tarvik::lnx {

// The keyboard of one X display.
class IXKeyboard {
 public:
  virtual ~IXKeyboard() = default;
  // The mapping of the active group, read again once the server's changed.
  virtual const XKeymap& Keymap() = 0;
  virtual XKeyboardState State() = 0;
  // The modifier keys under the user's fingers; nothing when that cannot be told.
  virtual std::optional<std::vector<Keycode>> PhysicallyHeld() = 0;
  // In order; false when the server refused them.
  virtual bool Send(std::span<const XKeyAction> events) = 0;
  // Gives a keycode a keysym (kNoSymbol: none) and returns once the server
  // has the change; Keymap() shows it from then on.
  virtual bool Remap(Keycode code, Keysym sym) = 0;
  // Every event sent so far has reached the server; false when some were
  // refused (the keys of ours they may have left down are up again). For a
  // keyboard whose Send waits for each answer, nothing is left to wait for.
  virtual bool Sync() { return true; }
};

class XKeyInjector : public IKeySender {
 public:
  explicit XKeyInjector(IXKeyboard& keyboard, IDiagnostics& log = NoLog())
      : kb_(keyboard), log_(log) {}
  ~XKeyInjector() override;  // the spare keycodes get their empty mapping back
  XKeyInjector(const XKeyInjector&) = delete;
  XKeyInjector& operator=(const XKeyInjector&) = delete;

  bool SendKeyTokens(std::string_view token) override;
  // A character the mapping lacks can be typed while a keycode is free to
  // bind it to.
  bool CanType(std::string_view token) override;
  void BeginRecord() override;
  void EndRecord() override;
  bool Flush() override { return kb_.Sync(); }
  // Characters not typed: the mapping has no key for them and none could be bound.
  std::size_t Skipped() const { return skipped_; }

 private:
  struct Binding {
    Keycode code;
    Keysym sym;
  };
  bool Bind(Keysym sym);
  void Unbind();

  IXKeyboard& kb_;
  IDiagnostics& log_;
  std::vector<Binding> bound_;  // oldest first
  std::size_t skipped_ = 0;
  std::size_t skippedInRecord_ = 0;
};

}  // namespace tarvik::lnx
