// Typing on an X display (Xwayland's too): the mapping read through XKB,
// the keys down as the server sees them (XQueryKeymap) and as the user's
// fingers hold them (the input devices other than XTest's), XTest for the
// key events, XChangeKeyboardMapping to bind a character the layout lacks.
#pragma once
#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "keys/linux/xkey_injector.h"

typedef struct _XDisplay Display;

namespace tarvik::lnx {

// Key events are queued, not waited for one by one: the server answers for
// them as it handles them (an error, or the raw key events that come back,
// which carry the number of the last request it handled), and at the next
// round trip (when kMaxEventsInFlight wait unanswered, when a mapping
// changes, and at Sync); a refusal found ends the sending.
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

  // Straight from the server, one round trip: whether `code` is down, and
  // the modifiers in effect (XKB's effective mask). On a Wayland desktop
  // Xwayland learns of keys from the compositor, and this is what an X
  // program's next key meets.
  struct ServerKey {
    bool down = false;
    std::uint8_t mods = 0;
  };
  std::optional<ServerKey> ReadServerKey(Keycode code);
  // Whether the window manager names a window of this display as active
  // (_NET_ACTIVE_WINDOW); on a Wayland desktop, whether an X window has the
  // focus: mutter and KWin set it to none while a Wayland window has it.
  bool XWindowActive();

  // Events sent and not yet answered for, at most: past them Send waits for
  // the server to answer for half of them, so it never runs out of work.
  static constexpr std::size_t kMaxEventsInFlight = 1024;
  // That wait sleeps in steps of this long and then reads what came: a
  // wait that woke for every answer would cost a system call an event, on
  // the processor the server and the target need.
  static constexpr std::chrono::microseconds kCatchUpStep{500};
  // Steps before the wait gives up on the answers and makes a round trip.
  static constexpr int kCatchUpSteps = 200;
  // The server's notices and answers are read at most this often while
  // keys go out (each read is a system call): a lock, a layout or a key of
  // the user's that changed meanwhile counts from the next key on.
  static constexpr std::chrono::microseconds kReadInterval{1000};
  // Queued events are written to the connection in runs of this many, so
  // the server types the first ones while the next are planned.
  static constexpr std::size_t kEventsPerWrite = 128;
  // XTest events sent in one burst all carry the server's millisecond of the
  // moment they are handled, and some clients (LibreOffice's own X11 backend)
  // take a release and a press of one key with the same time for
  // auto-repeat: a doubled character arrives once. The server holds the
  // second press this long (XTest's own delay: no wait here), so it carries
  // a later millisecond.
  static constexpr unsigned long kSameKeyGapMs = 1;
  // A client reads a changed mapping only when it handles the server's
  // notice of it: a key on a freshly bound keycode that reaches it first is
  // read through the old mapping, as no character. The server holds the
  // first event after a binding this long.
  static constexpr unsigned long kRemapSettleMs = 20;

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
  // Sleeps until no more than `left` events are in flight, or the steps run
  // out; false then. Only where the raw key events come back.
  bool CatchUp(std::size_t left);
  bool Refused();
  void SendOne(const XKeyAction& e);
  void SendHeldRelease();
  // The delay XTest is to hold this event back by (0: none).
  unsigned long DelayBefore(const XKeyAction& e);

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
  // Our events the server has not answered for yet, in order, with the
  // serial numbers of their requests: which keys of ours may be down if the
  // server refused some of them.
  struct Queued {
    XKeyAction event;
    unsigned long serial;
  };
  std::deque<Queued> inFlight_;
  // The keys of ours that the events answered for left down.
  std::vector<XKeyAction> answeredDown_;
  // The first `count` events in flight have been answered for.
  void Answered(std::size_t count);
  // Our events whose raw events have not come back yet, oldest first; a raw
  // event that is not the next of them is someone else's key.
  std::deque<XKeyAction> unseen_;
  // Raw events with a serial below this came before the keys down were last
  // read: the answer counts them already.
  unsigned long freshFrom_ = 0;
  // Events queued since our requests were last written to the connection.
  std::size_t unwritten_ = 0;
  // When the connection was last read: what the server sends meanwhile
  // (answers for our keys, notices) is read in one go, not key by key.
  std::chrono::steady_clock::time_point lastRead_{};
  bool ReadDue() const;
  bool refused_ = false;  // the server refused an XTest request of ours, not yet told
  // The last key event sent, for the gap before the same key again.
  std::optional<XKeyAction> last_;
  bool remapped_ = false;  // a binding since the last event sent: the next one waits
  // The release of a modifier that ended the last Send, not sent yet: the
  // next key may want it down again. The keys down already count it.
  std::optional<XKeyAction> heldRelease_;
};

class XTestKeySender : public IKeySender {
 public:
  static std::unique_ptr<XTestKeySender> Open(const char* display, std::string& problem,
                                              IDiagnostics& log = NoLog());
  bool SendKeyTokens(std::string_view token) override { return injector_.SendKeyTokens(token); }
  bool CanType(std::string_view token) override { return injector_.CanType(token); }
  bool CanTypeAll(std::span<const std::string> tokens) override {
    return injector_.CanTypeAll(tokens);
  }
  std::optional<std::chrono::milliseconds> Ready(std::span<const std::string> tokens) override {
    return injector_.Ready(tokens);
  }
  void BeginRecord() override { injector_.BeginRecord(); }
  void EndRecord() override { injector_.EndRecord(); }
  bool Flush() override { return injector_.Flush(); }

 private:
  XTestKeySender(std::unique_ptr<XTestKeyboard> keyboard, IDiagnostics& log)
      : keyboard_(std::move(keyboard)), injector_(*keyboard_, log) {}

  std::unique_ptr<XTestKeyboard> keyboard_;
  XKeyInjector injector_;  // after the keyboard: it undoes its bindings through it
};

}  // namespace tarvik::lnx
