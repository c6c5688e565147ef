// Typing through an X server, portable: each token is planned against the
// keyboard mapping and sent through IXKeyboard around the modifier keys held
// now, as the typing policy (typing_policy.h) says. A character the mapping
// lacks is bound to a spare keycode before the record's first key.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/diagnostics.h"
#include "keys/keystroke_output.h"
#include "keys/linux/xkb_plan.h"

namespace tarvik::lnx {

// The keyboard of one X display.
class IXKeyboard {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~IXKeyboard() = default;
  // The mapping of the active group, read again once the server's changed.
  virtual const XKeymap& Keymap() = 0;
  virtual XKeyboardState State() = 0;
  // The modifier keys under the user's fingers; nothing when that cannot be told.
  virtual std::optional<std::vector<Keycode>> PhysicallyHeld() = 0;
  // In order; false when the server refused them.
  virtual bool Send(std::span<const XKeyAction> events) = 0;
  // Gives a keycode a keysym (kNoSymbol: none) and returns once the server
  // has the change; Keymap() shows it from then on. A keyboard whose clients
  // read a new mapping only some time after the server has it holds back
  // the next key until they can have read it.
  virtual bool Remap(Keycode code, Keysym sym) = 0;
  // Every event sent so far has reached the server; false when some were
  // refused (the keys of ours they may have left down are up again). For a
  // keyboard whose Send waits for each answer, nothing is left to wait for.
  virtual bool Sync() { return true; }
  // The time the keys go out at.
  virtual Clock::time_point Now() { return Clock::now(); }
};

// Spare keycodes: a record's missing characters are all bound before its
// first key, and a character bound once stays bound (typed again without a
// new binding) until its keycode is needed for another. A window reads a key
// with the mapping as it is when it gets round to the key, which a slow one
// (Java, LibreOffice) does long after the key went out: a keycode is bound
// anew only when no record still being typed uses it and the last record
// that did ended kBindingHold ago. A record that needs more keycodes than
// that leaves is not typed at all; one that needs keycodes not yet free
// waits for them. Every binding is undone when the injector goes.
class XKeyInjector : public IKeySender {
 public:
  // A keycode's character stays at least this long after the last record
  // typed with it ended: ample for a busy window to read its keys.
  static constexpr std::chrono::seconds kBindingHold{5};

  explicit XKeyInjector(IXKeyboard& keyboard, IDiagnostics& log = NoLog())
      : kb_(keyboard), log_(log) {}
  ~XKeyInjector() override;  // the spare keycodes get their empty mapping back
  XKeyInjector(const XKeyInjector&) = delete;
  XKeyInjector& operator=(const XKeyInjector&) = delete;

  bool SendKeyTokens(std::string_view token) override;
  // A character the mapping lacks can be typed while a keycode is free to
  // bind it to, or will be once its binding has aged.
  bool CanType(std::string_view token) override;
  bool CanTypeAll(std::span<const std::string> tokens) override;
  std::optional<std::chrono::milliseconds> Ready(std::span<const std::string> tokens) override;
  void BeginRecord() override;
  void EndRecord() override;
  bool Flush() override { return kb_.Sync(); }

 private:
  using Clock = IXKeyboard::Clock;
  struct Binding {
    Keycode code;
    Keysym sym;
    std::uint64_t record;  // the last record that typed with it, or bound it
    Clock::time_point ended;  // when that record ended (or the binding was made)
  };
  // What a record's tokens need of the spare keycodes on the mapping now.
  struct Needs {
    std::vector<Keysym> missing;      // characters without a key, each once
    std::vector<std::size_t> typing;  // bindings (indexes in bound_) they type with
  };
  Needs Assess(std::span<const std::string> tokens, const XKeymap& map) const;
  // Bindings another record may take, oldest first (indexes in bound_).
  std::vector<std::size_t> Reusable(const Needs& needs) const;
  // Whether `keycodes` free and reusable keycodes take the record's missing
  // characters; the log says when they do not.
  bool Fits(const Needs& needs, std::size_t keycodes);
  bool MayRebind(const Binding& b, Clock::time_point now) const;
  bool BindTo(Keycode code, Keysym sym, std::optional<std::size_t> replacing);
  // Bindings that a new mapping (another layout) has replaced are no longer ours.
  void Forget(const XKeymap& map);
  void UnbindAll();

  IXKeyboard& kb_;
  IDiagnostics& log_;
  std::vector<Binding> bound_;
  std::uint64_t record_ = 0;  // the record now being typed, or the last one
  bool inRecord_ = false;
};

}  // namespace tarvik::lnx
