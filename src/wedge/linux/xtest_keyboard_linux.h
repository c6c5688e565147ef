// Typing on an X display (Xwayland's too): the mapping read through XKB,
// the keys down as the server sees them (XQueryKeymap) and as the user's
// fingers hold them (the input devices other than XTest's), XTest for the
// key events, XChangeKeyboardMapping to bind a character the layout lacks.
#pragma once
#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "wedge/linux/xkey_injector.h"

typedef struct _XDisplay Display;

namespace tarvik::lnx {

// Key events are queued, not waited for one by one: the server answers for
// them at the next round trip (at most kMaxEventsInFlight events later, when a
// mapping changes, and at Sync), and a refusal found there ends the sending.
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
  bool Sync() override;

  // Events sent and not yet answered for, at most: past them Send waits for
  // the server. A round trip costs about as much as typing a few dozen keys;
  // this many keep the wait a small part of the time.
  static constexpr std::size_t kMaxEventsInFlight = 256;
  // Queued events are written to the connection in runs of this many, so
  // the server types the first ones while the next are planned.
  static constexpr std::size_t kEventsPerWrite = 32;

 private:
  static constexpr std::size_t kKeymapBytes = 32;
  static constexpr int kNoExtension = -1;
  class Watch;

  // inputOpcode: XInput 2's, or kNoExtension.
  XTestKeyboard(Display* display, int xkbEventType, int inputOpcode, int xtestOpcode);
  void ReadKeymap();
  // Reads the notices the server has sent: mapping changes, lock and group
  // changes, keys that moved. Never waits; reads the connection, or takes
  // only what Xlib has read from it already.
  void ReadNotices(bool fromConnection);
  void NoteState(int group, std::uint8_t locked);
  void NoteRawKey(Keycode code, bool down, unsigned long serial);
  // One round trip: the server has handled every event sent so far, and the
  // keys down are read afresh.
  void Drain();
  // Drain, then: false when the server refused some of the events since the
  // last round trip, after letting go every key of ours they may have left down.
  bool Settle();
  bool Refused();

  Display* d_;
  int xkbEventType_;
  int inputOpcode_;
  int xtestOpcode_;
  bool inputDevices_;  // XInput 2 is there: the user's own keyboards can be asked
  XKeymap map_;
  int group_ = 0;
  bool stale_ = true;
  // Locked and latched modifiers, as the server's state notices tell them.
  std::uint8_t locked_ = 0;
  // The keys down: as the server answered at the last round trip, with our
  // events since applied. Good while no key but ours has moved since (XInput
  // 2's raw key events tell), read afresh otherwise.
  std::array<char, kKeymapBytes> keys_{};
  bool keysValid_ = false;
  // Our events since the last round trip, in order: which keys of ours may be
  // down if the server refused some of them.
  std::vector<XKeyAction> inFlight_;
  // Our events whose raw events have not come back yet, oldest first; a raw
  // event that is not the next of them is someone else's key.
  std::deque<XKeyAction> unseen_;
  // Raw events with a serial below this came before the keys down were last
  // read: the answer counts them already.
  unsigned long freshFrom_ = 0;
  // Events queued since our requests were last written to the connection.
  std::size_t unwritten_ = 0;
  bool readSinceSend_ = false;  // the connection was read after our last events
  bool refused_ = false;  // the server refused an XTest request of ours, not yet told
};

class XTestKeySender : public IKeySender {
 public:
  static std::unique_ptr<XTestKeySender> Open(const char* display, std::string& problem,
                                              IDiagnostics& log = NoLog());
  bool SendKeyTokens(std::string_view token) override { return injector_.SendKeyTokens(token); }
  bool CanType(std::string_view token) override { return injector_.CanType(token); }
  void BeginRecord() override { injector_.BeginRecord(); }
  void EndRecord() override { injector_.EndRecord(); }
  bool Flush() override { return injector_.Flush(); }
  std::size_t Skipped() const { return injector_.Skipped(); }

 private:
  XTestKeySender(std::unique_ptr<XTestKeyboard> keyboard, IDiagnostics& log)
      : keyboard_(std::move(keyboard)), injector_(*keyboard_, log) {}

  std::unique_ptr<XTestKeyboard> keyboard_;
  XKeyInjector injector_;  // after the keyboard: it undoes its bindings through it
};

}  // namespace tarvik::lnx
