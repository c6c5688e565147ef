// Typing through the desktop portal's RemoteDesktop keyboard, for Wayland
// desktops (GNOME, KDE) where XTest reaches X programs only. The portal asks
// the user once for consent (a dialog); with persist mode 2 its answer comes
// with a restore token that spares the dialog next time, valid for one use.
// The compositor takes evdev keycodes and applies its own layout, so keys
// are planned with the desktop's layout as Xwayland carries it.
#pragma once
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "wedge/keystroke_output.h"
#include "wedge/linux/xkey_injector.h"

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

// The desktop's layout from an X keyboard (Xwayland's), the keys to the
// portal. The layout cannot be changed from here: no spare keycodes, and a
// character the layout lacks cannot be typed.
class PortalKeyboard : public IXKeyboard {
 public:
  PortalKeyboard(IXKeyboard& layout, IRemoteKeys& keys) : layout_(layout), keys_(keys) {}
  const XKeymap& Keymap() override;
  XKeyboardState State() override { return layout_.State(); }
  // The compositor does not say which keys the user holds: none are pressed again.
  std::optional<std::vector<Keycode>> PhysicallyHeld() override { return std::vector<Keycode>{}; }
  bool Send(std::span<const XKeyAction> events) override;
  bool Remap(Keycode, Keysym) override { return false; }

 private:
  IXKeyboard& layout_;
  IRemoteKeys& keys_;
  XKeymap map_;
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
  std::string WhyNotReady() override;
  void BeginRecord() override { injector_.BeginRecord(); }
  void EndRecord() override { injector_.EndRecord(); }

 private:
  PortalKeySender(std::unique_ptr<XTestKeyboard> layout, std::unique_ptr<PortalSession> session,
                  IDiagnostics& log);

  std::unique_ptr<XTestKeyboard> layout_;
  std::unique_ptr<PortalSession> session_;
  PortalKeyboard keyboard_;
  XKeyInjector injector_;  // last: it sends through the keyboard until it goes
};

// The restore token's file in the program's state folder.
std::string DefaultRestoreTokenPath();

}  // namespace tarvik::lnx
