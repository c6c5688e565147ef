// Typing through the desktop portal's RemoteDesktop keyboard, for Wayland
// desktops (GNOME, KDE) where XTest reaches X programs only. What the user
// sees differs: GNOME asks with a dialog at every start (it hands out restore
// tokens, which spare the dialog, only from GNOME 45 with xdg-desktop-portal
// 1.17); Plasma 5.27 allows a keyboard-only session at once, with no dialog
// and no token. A token is kept when one comes, and is good for one use.
// The compositor takes evdev keycodes and applies its own layout, so keys
// are planned with that layout: on GNOME its input source in use (see
// gnome_layout_linux.h), elsewhere the layout as Xwayland carries it.
#pragma once
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/diagnostics.h"
#include "core/linux/event_pump_linux.h"
#include "keys/keystroke_output.h"
#include "keys/linux/xkey_injector.h"

namespace tarvik::lnx {

// X keycodes are the kernel's (evdev) key numbers plus this.
inline constexpr int kXKeycodeOffset = 8;

// Where key events go: the portal session, or a fake.
class IRemoteKeys {
 public:
  virtual ~IRemoteKeys() = default;
  // One key, by its evdev number, down or up. False when the desktop refused it.
  virtual bool NotifyKey(int evdevCode, bool down) = 0;
};

// How the compositor behind the portal takes keys sent back to back. GNOME's
// portal answers each key before mutter has applied it, and a Shift or AltGr
// sent right before or after a key can then take effect one or more keys
// late for X programs (Xwayland): capitals come out lower case. A round trip
// to mutter's own D-Bus object does not help (mutter hands the key to its
// input thread and answers); time does. KWin applies each key as it comes.
enum class PortalDesktop { kGnome, kOther };

// From XDG_CURRENT_DESKTOP (a list such as "ubuntu:GNOME"), the very names
// xdg-desktop-portal picks its desktop's backend by.
PortalDesktop PortalDesktopNamed(std::string_view currentDesktop);

// A Shift, AltGr or user's modifier going down or up.
bool ChangesModifier(const XKeyAction& event);

// Milliseconds to let pass before `event` goes, and after it before the next.
struct PortalGaps {
  int beforeMs = 0, afterMs = 0;
  bool operator==(const PortalGaps&) const = default;
};
PortalGaps PortalGapsFor(PortalDesktop desktop, const XKeyAction& event);

// Lets time pass between keys; the program goes on handling its events.
class IPortalWait {
 public:
  virtual ~IPortalWait() = default;
  virtual void WaitMs(int ms) = 0;
};

// What X programs see of the keys on a Wayland desktop: Xwayland's own
// keyboard, which the compositor keeps current only while an X window has
// the focus.
class IXwaylandEcho {
 public:
  struct Key {
    bool down = false;
    std::uint8_t mods = 0;  // the modifiers in effect
  };
  virtual ~IXwaylandEcho() = default;
  virtual bool XWindowFocused() = 0;
  // Nothing when Xwayland cannot be asked.
  virtual std::optional<Key> KeyState(Keycode code) = 0;
};

// Under load mutter still lets a capital through without its Shift, paced
// or not, into X programs about one line in two hundred: a pause is a
// guess. While an X window has the focus, each Shift or AltGr sent waits
// until Xwayland has it, and only then does the next key go; what Xwayland
// has by then, it hands on in order. No echo this long ends the record as refused.
inline constexpr int kEchoLimitMs = 1000;
// How often Xwayland is asked meanwhile (two round trips each time).
inline constexpr int kEchoPollMs = 1;

// The restore token, in a file of its own, replaced as a whole.
class RestoreTokenFile {
 public:
  explicit RestoreTokenFile(std::string path) : path_(std::move(path)) {}
  // Empty when there is none.
  std::string Read() const;
  // An empty token removes the file. False, and `why` says why, on failure.
  bool Write(const std::string& token, std::string& why) const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The desktop's layout from an X keyboard (Xwayland's), or the one the
// compositor uses now where the desktop says which (UseKeymap), the keys to
// the portal. The layout cannot be changed from here: no spare keycodes, and
// a character the layout lacks cannot be typed.
class PortalKeyboard : public IXKeyboard {
 public:
  PortalKeyboard(IXKeyboard& layout, IRemoteKeys& keys, PortalDesktop desktop = PortalDesktop::kOther,
                 IPortalWait* wait = nullptr, IXwaylandEcho* echo = nullptr,
                 IDiagnostics& log = NoLog())
      : layout_(layout), keys_(keys), desktop_(desktop), wait_(wait), echo_(echo), log_(log) {}
  // Before each record: on GNOME, whether its modifiers wait for Xwayland's echo.
  void BeginRecord();
  const XKeymap& Keymap() override;
  XKeyboardState State() override;
  // The compositor does not say which keys the user holds: none are pressed again.
  std::optional<std::vector<Keycode>> PhysicallyHeld() override { return std::vector<Keycode>{}; }
  bool Send(std::span<const XKeyAction> events) override;
  bool Remap(Keycode, Keysym) override { return false; }
  // The compositor's layout now; nothing: Xwayland's again.
  void UseKeymap(std::optional<XKeymap> current) { current_ = std::move(current); }
  // Caps Lock as the compositor has it now; nothing: as Xwayland has it.
  void UseCapsLock(std::optional<bool> on) { capsLock_ = on; }

 private:
  IXKeyboard& layout_;
  IRemoteKeys& keys_;
  PortalDesktop desktop_;
  IPortalWait* wait_;
  IXwaylandEcho* echo_;
  IDiagnostics& log_;
  bool awaitEcho_ = false;
  // False when the key did not show in time while an X window kept the focus.
  bool AwaitEcho(const XKeyAction& event);
  std::optional<XKeymap> current_;
  std::optional<bool> capsLock_;
  XKeymap map_;
};

// A wait in the program's event loop: it sleeps in the system's poll.
class PumpedWait : public IPortalWait {
 public:
  void WaitMs(int ms) override { Pause(pump_, clock_, ms); }

 private:
  QtEventPump pump_;
  SystemClock clock_;
};

class PortalSession;
class XTestKeyboard;

class PortalKeySender : public IKeySender {
 public:
  // The layout from the X display (nullptr: $DISPLAY), the restore token in
  // `tokenPath`. Asks the portal for a session at once; the answer comes
  // through the Qt event loop. Nothing, and `problem` says why, when the
  // layout cannot be read.
  static std::unique_ptr<PortalKeySender> Open(const char* display, const std::string& tokenPath,
                                               std::string& problem, IDiagnostics& log = NoLog());
  ~PortalKeySender() override;
  PortalKeySender(const PortalKeySender&) = delete;
  PortalKeySender& operator=(const PortalKeySender&) = delete;

  bool SendKeyTokens(std::string_view token) override { return injector_.SendKeyTokens(token); }
  bool CanType(std::string_view token) override { return injector_.CanType(token); }
  // Before each record: on GNOME the keys are planned with its input source in use.
  std::string WhyNotReady() override;
  void BeginRecord() override {
    keyboard_.BeginRecord();
    injector_.BeginRecord();
  }
  void EndRecord() override { injector_.EndRecord(); }

 private:
  // Xwayland's keyboard, through the X connection the layout is read on.
  class Echo : public IXwaylandEcho {
   public:
    explicit Echo(XTestKeyboard& x) : x_(x) {}
    bool XWindowFocused() override;
    std::optional<Key> KeyState(Keycode code) override;

   private:
    XTestKeyboard& x_;
  };

  PortalKeySender(std::unique_ptr<XTestKeyboard> layout, std::unique_ptr<PortalSession> session,
                  PortalDesktop desktop, IDiagnostics& log);

  std::unique_ptr<XTestKeyboard> layout_;
  std::unique_ptr<PortalSession> session_;
  PortalDesktop desktop_;
  IDiagnostics& log_;
  std::string layoutSeen_;  // the layout last told of in the log
  bool staleCapsTold_ = false;
  PumpedWait wait_;
  Echo echo_;
  PortalKeyboard keyboard_;
  XKeyInjector injector_;  // last: it sends through the keyboard until it goes
};

// The restore token's file in the program's state folder.
std::string DefaultRestoreTokenPath();

}  // namespace tarvik::lnx
