// Typing on an X display (Xwayland's too): the mapping read through XKB,
// the keys down as the server sees them (XQueryKeymap) and as the user's
// fingers hold them (the input devices other than XTest's), XTest for the
// key events, XChangeKeyboardMapping to bind a character the layout lacks.
#pragma once
#include <memory>
#include <string>

#include "wedge/linux/xkey_injector.h"

typedef struct _XDisplay Display;

namespace tarvik::lnx {

class XTestKeyboard : public IXKeyboard {
 public:
  // Its own connection to the display (nullptr: $DISPLAY). Nothing, and
  // `problem` says why, when the display cannot be opened or lacks XTEST or XKB.
  static std::unique_ptr<XTestKeyboard> Open(const char* display, std::string& problem);
  ~XTestKeyboard() override;
  XTestKeyboard(const XTestKeyboard&) = delete;
  XTestKeyboard& operator=(const XTestKeyboard&) = delete;

  const XKeymap& Keymap() override;
  XKeyboardState State() override;
  std::optional<std::vector<Keycode>> PhysicallyHeld() override;
  bool Send(std::span<const XKeyAction> events) override;
  bool Remap(Keycode code, Keysym sym) override;

 private:
  XTestKeyboard(Display* display, int xkbEventType, bool inputDevices);
  void ReadKeymap();

  Display* d_;
  int xkbEventType_;
  bool inputDevices_;  // XInput 2 is there: the user's own keyboards can be asked
  XKeymap map_;
  int group_ = 0;
  bool stale_ = true;
};

class XTestKeySender : public IKeySender {
 public:
  static std::unique_ptr<XTestKeySender> Open(const char* display, std::string& problem,
                                              IDiagnostics& log = NoLog());
  bool SendKeyTokens(std::string_view token) override { return injector_.SendKeyTokens(token); }
  bool CanType(std::string_view token) override { return injector_.CanType(token); }
  void BeginRecord() override { injector_.BeginRecord(); }
  void EndRecord() override { injector_.EndRecord(); }
  std::size_t Skipped() const { return injector_.Skipped(); }

 private:
  XTestKeySender(std::unique_ptr<XTestKeyboard> keyboard, IDiagnostics& log)
      : keyboard_(std::move(keyboard)), injector_(*keyboard_, log) {}

  std::unique_ptr<XTestKeyboard> keyboard_;
  XKeyInjector injector_;  // after the keyboard: it undoes its bindings through it
};

}  // namespace tarvik::lnx
