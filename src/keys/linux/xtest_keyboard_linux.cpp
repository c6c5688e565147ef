#include "keys/linux/xtest_keyboard_linux.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon.h>
// clang-format on

#include "keys/linux/x_error_trap.h"
#include "keys/typing_policy.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <thread>

namespace tarvik::lnx {
namespace {

constexpr int kBitsPerByte = 8;
// A window property of 32-bit items, which Xlib hands out as longs.
constexpr int kWindowPropertyFormat = 32;
// Keysyms each keycode gets when a character is bound to it: the lower and
// upper case, so the key types it with Caps Lock on or off.
constexpr int kBoundLevels = 2;
constexpr int kXInputMajor = 2, kXInputMinor = 0;
// The XTest device of each master keyboard carries this in its name.
constexpr std::string_view kXTestDeviceMark = "XTEST";
constexpr const char* kXTestExtension = "XTEST";
// The state notices the server sends us: locks, latches and the layout group.
// Presses of modifier keys (ours included) change none of them.
constexpr unsigned kStateDetails = XkbModifierLockMask | XkbModifierLatchMask | XkbGroupStateMask;

bool IsLockKey(::KeySym s) {
  return s == XK_Caps_Lock || s == XK_Shift_Lock || s == XK_Num_Lock || s == XK_Scroll_Lock;
}
bool IsModifierSym(::KeySym s) {
  return (s >= XK_Shift_L && s <= XK_Hyper_R && !IsLockKey(s)) || s == XK_ISO_Level3_Shift ||
         s == XK_ISO_Level5_Shift || s == XK_Mode_switch;
}
bool TapActs(::KeySym s) {
  return s == XK_Alt_L || s == XK_Alt_R || s == XK_Meta_L || s == XK_Meta_R || s == XK_Super_L ||
         s == XK_Super_R || s == XK_Hyper_L || s == XK_Hyper_R;
}

bool KeyBit(const char* bits, std::size_t code) {
  return (bits[code / kBitsPerByte] >> (code % kBitsPerByte)) & 1;
}

void SetKeyBit(char* bits, std::size_t code, bool down) {
  const auto bit = static_cast<char>(1 << (code % kBitsPerByte));
  bits[code / kBitsPerByte] = static_cast<char>(down ? bits[code / kBitsPerByte] | bit
                                                     : bits[code / kBitsPerByte] & ~bit);
}

// Keys down on one input device, added to `down`.
bool AddKeysDown(Display* d, XID device, std::array<bool, kKeyCodes>& down) {
  XDevice* dev = XOpenDevice(d, device);
  if (!dev) return false;
  XDeviceState* state = XQueryDeviceState(d, dev);
  if (state) {
    auto* c = state->data;
    for (int i = 0; i < state->num_classes; ++i) {
      if (c->c_class == KeyClass) {
        const auto* keys = reinterpret_cast<const ::XKeyState*>(c);
        for (std::size_t code = 0; code < kKeyCodes; ++code)
          if (KeyBit(keys->keys, code)) down[code] = true;
      }
      c = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(c) + c->length);
    }
    XFreeDeviceState(state);
  }
  XCloseDevice(d, dev);
  return state != nullptr;
}

}  // namespace

// Xlib hands every X error to one handler for the whole process, and meets
// the errors of queued requests whenever it next reads the connection. While
// a call of ours runs on our connection, an error of one of our XTest
// requests is noted as a refusal, and any other error goes where it went
// before (an ErrorTrap of ours, or Xlib's default).
class XTestKeyboard::Watch {
 public:
  explicit Watch(XTestKeyboard& kb) {
    if (current_) return;  // a call of ours within another one: watched already
    current_ = &kb;
    owner_ = true;
    previous_ = XSetErrorHandler(&Note);
  }
  ~Watch() {
    if (!owner_) return;
    XSetErrorHandler(previous_);
    current_ = nullptr;
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

 private:
  static int Note(Display* d, XErrorEvent* e) {
    if (current_ && d == current_->d_ && e->request_code == current_->xtestOpcode_) {
      current_->refused_ = true;
      return 0;
    }
    return previous_ ? previous_(d, e) : 0;
  }
  static inline XTestKeyboard* current_ = nullptr;
  static inline XErrorHandler previous_ = nullptr;
  bool owner_ = false;
};

std::unique_ptr<XTestKeyboard> XTestKeyboard::Open(const char* display, std::string& problem) {
  const std::string name = XDisplayName(display);
  Display* d = XOpenDisplay(display);
  if (!d) {
    problem = "the X display \"" + name + "\" cannot be opened";
    return nullptr;
  }
  int event = 0, error = 0, major = 0, minor = 0, opcode = 0, xtestOpcode = 0;
  if (!XTestQueryExtension(d, &event, &error, &major, &minor) ||
      !XQueryExtension(d, kXTestExtension, &xtestOpcode, &event, &error)) {
    problem = "the X display \"" + name + "\" has no XTEST extension";
    XCloseDisplay(d);
    return nullptr;
  }
  int xkbEvent = 0;
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  if (!XkbQueryExtension(d, &opcode, &xkbEvent, &error, &major, &minor)) {
    problem = "the X display \"" + name + "\" has no XKEYBOARD extension";
    XCloseDisplay(d);
    return nullptr;
  }
  constexpr unsigned kMapEvents = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  XkbSelectEvents(d, XkbUseCoreKbd, kMapEvents, kMapEvents);
  XkbSelectEventDetails(d, XkbUseCoreKbd, XkbStateNotify, kStateDetails, kStateDetails);
  bool inputDevices = XQueryExtension(d, "XInputExtension", &opcode, &event, &error);
  major = kXInputMajor;
  minor = kXInputMinor;
  inputDevices = inputDevices && XIQueryVersion(d, &major, &minor) == Success;
  if (inputDevices) {
    // Every key press and release on the display, from any device, ours
    // included: while none but ours came, the keys down are as last read.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
  }
  return std::unique_ptr<XTestKeyboard>(
      new XTestKeyboard(d, xkbEvent, inputDevices ? opcode : kNoExtension, xtestOpcode));
}

XTestKeyboard::XTestKeyboard(Display* display, int xkbEventType, int inputOpcode, int xtestOpcode)
    : d_(display), xkbEventType_(xkbEventType), inputOpcode_(inputOpcode),
      xtestOpcode_(xtestOpcode), inputDevices_(inputOpcode != kNoExtension) {
  // The state as it is now; the notices keep it up to date from here on.
  XkbStateRec s{};
  if (XkbGetState(d_, XkbUseCoreKbd, &s) == Success)
    NoteState(s.group, static_cast<std::uint8_t>(s.locked_mods | s.latched_mods));
}

bool XTestKeyboard::ReadDue() const {
  return std::chrono::steady_clock::now() - lastRead_ >= kReadInterval;
}

void XTestKeyboard::NoteState(int group, std::uint8_t locked) {
  if (group != group_) stale_ = true;
  group_ = group;
  locked_ = locked;
}

void XTestKeyboard::ReadNotices(bool fromConnection) {
  // The server tells every client of a changed mapping (another layout, a
  // key rebound) and us of changed locks; the notices wait on our connection
  // until read here. Every notice sent before a reply we have waited for is
  // among them. QueuedAfterReading takes what has come without waiting and
  // without writing out our queued requests first (XPending would).
  // QueuedAlready takes only what Xlib has read already: no system call.
  if (fromConnection) lastRead_ = std::chrono::steady_clock::now();
  while (XEventsQueued(d_, fromConnection ? QueuedAfterReading : QueuedAlready) > 0) {
    XEvent ev;
    XNextEvent(d_, &ev);
    if (ev.type == xkbEventType_) {
      const auto& xkb = reinterpret_cast<const XkbEvent&>(ev);
      if (xkb.any.xkb_type == XkbStateNotify) {
        NoteState(xkb.state.group,
                  static_cast<std::uint8_t>(xkb.state.locked_mods | xkb.state.latched_mods));
      } else {
        stale_ = true;
      }
    } else if (ev.type == MappingNotify) {
      stale_ = true;
    } else if (ev.type == GenericEvent && ev.xcookie.extension == inputOpcode_ &&
               (ev.xcookie.evtype == XI_RawKeyPress || ev.xcookie.evtype == XI_RawKeyRelease)) {
      if (XGetEventData(d_, &ev.xcookie)) {
        const auto* raw = static_cast<const XIRawEvent*>(ev.xcookie.data);
        NoteRawKey(static_cast<Keycode>(raw->detail), ev.xcookie.evtype == XI_RawKeyPress,
                   ev.xcookie.serial);
        XFreeEventData(d_, &ev.xcookie);
      } else {
        keysValid_ = false;  // some key moved, whose is unknown
      }
    }
  }
  // The server sends what a request causes (an error of it too) before
  // anything it sends later: every event of ours up to the last request it
  // says it has handled is answered for.
  if (fromConnection && !refused_) {
    const unsigned long done = LastKnownRequestProcessed(d_);
    std::size_t n = 0;
    while (n < inFlight_.size() && inFlight_[n].serial <= done) ++n;
    Answered(n);
  }
}

void XTestKeyboard::Answered(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const XKeyAction& e = inFlight_[i].event;
    if (e.role != XKeyAction::Role::Key && e.role != XKeyAction::Role::Modifier &&
        e.role != XKeyAction::Role::Mask)
      continue;  // the user's own keys are the user's
    std::erase_if(answeredDown_, [&](const XKeyAction& d) { return d.code == e.code; });
    if (e.down) answeredDown_.push_back(e);
  }
  inFlight_.erase(inFlight_.begin(), inFlight_.begin() + static_cast<std::ptrdiff_t>(count));
}

void XTestKeyboard::NoteRawKey(Keycode code, bool down, unsigned long serial) {
  // Ours come back in the order we sent them; any other is someone else's
  // key, which the keys down as last read count if it came before that read.
  if (!unseen_.empty() && unseen_.front().code == code && unseen_.front().down == down) {
    unseen_.pop_front();
  } else if (serial >= freshFrom_) {
    keysValid_ = false;
  }
}

XTestKeyboard::~XTestKeyboard() {
  Watch watch(*this);
  if (!inFlight_.empty() || heldRelease_) Drain();
  XCloseDisplay(d_);
}

const XKeymap& XTestKeyboard::Keymap() {
  Watch watch(*this);
  // Planning one key asks for the mapping several times, and a record is
  // checked key by key before it is typed.
  ReadNotices(ReadDue());
  if (stale_) ReadKeymap();
  return map_;
}

void XTestKeyboard::ReadKeymap() {
  stale_ = false;
  map_ = XKeymap{};
  XkbDescPtr xkb =
      XkbGetMap(d_, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
  if (!xkb) return;
  const auto level3Mask = static_cast<std::uint8_t>(XkbKeysymToModifiers(d_, XK_ISO_Level3_Shift));
  std::vector<Keycode> unused;
  for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
    const auto code = static_cast<Keycode>(kc);
    const int groups = XkbKeyNumGroups(xkb, kc);
    const std::uint8_t modmap = xkb->map->modmap[kc];
    const ::KeySym* syms = XkbKeySymsPtr(xkb, kc);
    if (groups == 0 || std::all_of(syms, syms + XkbKeyNumSyms(xkb, kc),
                                   [](::KeySym s) { return s == NoSymbol; })) {
      if (modmap == 0) unused.push_back(code);
      continue;
    }
    // Keys with fewer groups than the active one wrap around, as the server does.
    const int g = group_ % groups;
    XkbKeyTypePtr type = XkbKeyKeyType(xkb, kc, g);
    XKey& key = map_.keys[code];
    key.typeMods = type->mods.mask;
    for (int i = 0; i < type->map_count; ++i) {
      const XkbKTMapEntryRec& e = type->map[i];
      if (e.active && e.mods.mask != 0) key.levelFor.push_back({e.mods.mask, e.level});
    }
    bool modifierSym = false, tapActs = false;
    for (int l = 0; l < type->num_levels; ++l) {
      const ::KeySym s = XkbKeySymEntry(xkb, kc, l, g);
      key.levels.push_back(
          {static_cast<Keysym>(s), xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(s))});
      modifierSym |= IsModifierSym(s);
      tapActs |= TapActs(s);
    }
    const ::KeySym first = XkbKeySymEntry(xkb, kc, 0, g);
    if (IsLockKey(first) || modmap == LockMask) continue;
    // AltGr often sets its modifier through its XKB action alone, with no
    // modifier map entry of its own.
    const std::uint8_t mask =
        modmap != 0 ? modmap : (first == XK_ISO_Level3_Shift ? level3Mask : 0);
    if (mask == 0 && !modifierSym) continue;
    map_.modifiers.push_back({code, mask, tapActs});
    if (first == XK_Shift_L && !map_.shift) map_.shift = code;
    if (first == XK_Control_L && !map_.control) map_.control = code;
    if (first == XK_ISO_Level3_Shift && mask != 0 && (!map_.level3 || modmap != 0)) {
      map_.level3 = code;
      map_.level3Mask = mask;
    }
  }
  XkbFreeKeyboard(xkb, 0, True);
  // From the top, as other tools that bind spare keycodes do.
  std::reverse(unused.begin(), unused.end());
  if (!unused.empty()) {
    map_.mask = unused.front();
    map_.spare.assign(unused.begin() + 1, unused.end());
  }
}

XKeyboardState XTestKeyboard::State() {
  static_assert(kKeymapBytes * kBitsPerByte == kKeyCodes);
  Watch watch(*this);
  // The notices that have come: locks, group, mapping, and whether a key
  // other than ours moved since the keys down were read. Ours still on
  // their way change nothing: the keys down already count them. A key the
  // user presses while ours are on their way, and whose raw event has not
  // come yet, is not seen for those keys: they were planned and sent before it.
  ReadNotices(ReadDue());
  if (!keysValid_) Drain();
  const XKeymap& map = Keymap();
  XKeyboardState st;
  st.locked = locked_;
  for (const auto& m : map.modifiers)
    if (KeyBit(keys_.data(), m.code)) st.held.push_back(m.code);
  return st;
}

std::optional<XTestKeyboard::ServerKey> XTestKeyboard::ReadServerKey(Keycode code) {
  std::array<char, kKeymapBytes> bits{};
  XkbStateRec s{};
  XQueryKeymap(d_, bits.data());
  if (XkbGetState(d_, XkbUseCoreKbd, &s) != Success) return std::nullopt;
  return ServerKey{KeyBit(bits.data(), code), static_cast<std::uint8_t>(s.mods)};
}

bool XTestKeyboard::XWindowActive() {
  const Atom active = XInternAtom(d_, "_NET_ACTIVE_WINDOW", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool read = XGetWindowProperty(d_, DefaultRootWindow(d_), active, 0, 1, False, XA_WINDOW,
                                       &type, &format, &count, &after, &data) == Success;
  bool named = false;
  if (read && data && type == XA_WINDOW && format == kWindowPropertyFormat && count == 1)
    named = *reinterpret_cast<const unsigned long*>(data) != None;
  if (data) XFree(data);
  return named;
}

void XTestKeyboard::Drain() {
  SendHeldRelease();
  // The answer follows every event of the requests before it, and Xlib has
  // met their errors on the way to it.
  freshFrom_ = NextRequest(d_);
  XQueryKeymap(d_, keys_.data());
  unwritten_ = 0;
  keysValid_ = inputDevices_;
  ReadNotices(true);  // a key moved after the answer makes it old at once
  unseen_.clear();  // events the server refused make none
  if (!refused_) Answered(inFlight_.size());
}

bool XTestKeyboard::Settle() {
  Drain();
  return refused_ ? Refused() : true;
}

bool XTestKeyboard::Refused() {
  // The server answers a refusal for a request, and we learn of it later:
  // the events queued after the refused one went on to the server, and
  // some of them may have typed. Which ones is unknown, so every key of
  // ours down before them or pressed since goes up, latest first; a
  // release of a key that is up does nothing.
  std::vector<typing::Event> sent;
  sent.reserve(answeredDown_.size() + inFlight_.size());
  for (const auto& e : answeredDown_) sent.push_back({e.code, e.down, e.role});
  for (const auto& q : inFlight_) sent.push_back({q.event.code, q.event.down, q.event.role});
  inFlight_.clear();
  answeredDown_.clear();
  heldRelease_.reset();  // its key goes up with the others
  refused_ = false;
  for (const auto& e : typing::UndoAfterRefusal(sent, typing::IKeys::kTakenUnknown))
    XTestFakeKeyEvent(d_, e.key, False, CurrentTime);
  Drain();  // the releases are out before the caller goes on
  // A refusal of the releases too leaves nothing more to try.
  refused_ = false;
  inFlight_.clear();
  answeredDown_.clear();
  return false;
}

std::optional<std::vector<Keycode>> XTestKeyboard::PhysicallyHeld() {
  if (!inputDevices_) return std::nullopt;
  Watch watch(*this);
  // Our keys go out first, and an error of theirs is not taken for one of
  // the questions below.
  if (!inFlight_.empty() || heldRelease_) Drain();
  // Each keyboard the user types on is a device of its own under the master
  // keyboard; XTest's events, ours and other programs', come from XTest's.
  std::array<bool, kKeyCodes> down{};
  bool ok = true;
  {
    ErrorTrap trap(d_);
    int count = 0;
    XIDeviceInfo* info = XIQueryDevice(d_, XIAllDevices, &count);
    if (!info) return std::nullopt;
    for (int i = 0; i < count && ok; ++i) {
      if (info[i].use != XISlaveKeyboard) continue;
      if (std::string_view(info[i].name).find(kXTestDeviceMark) != std::string_view::npos) continue;
      ok = AddKeysDown(d_, static_cast<XID>(info[i].deviceid), down);
    }
    XIFreeDeviceInfo(info);
    ok = ok && !trap.Failed();
  }
  if (!ok) return std::nullopt;
  std::vector<Keycode> held;
  for (const auto& m : Keymap().modifiers)
    if (down[m.code]) held.push_back(m.code);
  return held;
}

bool XTestKeyboard::Send(std::span<const XKeyAction> events) {
  Watch watch(*this);
  // A refusal met while reading since: none of these go.
  if (refused_) return Refused();
  std::size_t first = 0;
  if (heldRelease_) {
    // A modifier let go at the end of the last key and pressed again for
    // this one simply stays down, as a typist holds Shift over capitals:
    // two events fewer for the server, the target and every client that
    // follows the keyboard's state.
    if (!events.empty() && events.front().down && events.front().code == heldRelease_->code &&
        events.front().role == XKeyAction::Role::Modifier) {
      SetKeyBit(keys_.data(), heldRelease_->code, true);
      heldRelease_.reset();
      first = 1;
    } else {
      SendHeldRelease();
    }
  }
  for (std::size_t i = first; i < events.size() && !refused_; ++i) {
    const XKeyAction& e = events[i];
    // The keys down as they will be once the server has this event.
    SetKeyBit(keys_.data(), e.code, e.down);
    if (i + 1 == events.size() && !e.down && e.role == XKeyAction::Role::Modifier) {
      heldRelease_ = e;  // goes with the next event, or at the next round trip
    } else {
      SendOne(e);
    }
  }
  if (!refused_ && inFlight_.size() >= kMaxEventsInFlight) CatchUp(kMaxEventsInFlight / 2);
  if (refused_ || inFlight_.size() >= kMaxEventsInFlight) return Settle();
  unwritten_ += events.size();
  if (unwritten_ >= kEventsPerWrite) {
    XFlush(d_);
    unwritten_ = 0;
  }
  return true;
}

void XTestKeyboard::SendOne(const XKeyAction& e) {
  inFlight_.push_back({e, NextRequest(d_)});
  if (!XTestFakeKeyEvent(d_, e.code, e.down ? True : False, DelayBefore(e))) {
    refused_ = true;
    return;
  }
  unseen_.push_back(e);
}

void XTestKeyboard::SendHeldRelease() {
  if (!heldRelease_) return;
  const XKeyAction e = *heldRelease_;
  heldRelease_.reset();
  SendOne(e);
  ++unwritten_;
}

unsigned long XTestKeyboard::DelayBefore(const XKeyAction& e) {
  unsigned long ms = CurrentTime;
  if (remapped_) {
    ms = kRemapSettleMs;
  } else if (e.down && e.role == XKeyAction::Role::Key && last_ && !last_->down &&
             last_->code == e.code) {
    ms = kSameKeyGapMs;
  }
  remapped_ = false;
  last_ = e;
  return ms;
}

bool XTestKeyboard::CatchUp(std::size_t left) {
  if (!inputDevices_) return false;
  SendHeldRelease();
  XFlush(d_);
  unwritten_ = 0;
  for (int i = 0; i < kCatchUpSteps && !refused_; ++i) {
    ReadNotices(true);
    if (inFlight_.size() <= left) return true;
    std::this_thread::sleep_for(kCatchUpStep);
  }
  return false;
}

bool XTestKeyboard::Sync() {
  Watch watch(*this);
  if (!refused_) SendHeldRelease();
  // Every event answered for, as the raw events tell, needs no round trip.
  if (!refused_ && !inFlight_.empty()) CatchUp(0);
  if (inFlight_.empty() && !refused_) return true;
  return Settle();
}

bool XTestKeyboard::Remap(Keycode code, Keysym sym) {
  Watch watch(*this);
  // The events before it are answered for first: an error of theirs is
  // theirs, kept for the next Send or Sync, not the binding's.
  if (!inFlight_.empty() || heldRelease_) Drain();
  ::KeySym syms[kBoundLevels] = {NoSymbol, NoSymbol};
  if (sym != xk::kNoSymbol) XConvertCase(sym, &syms[0], &syms[1]);
  ErrorTrap trap(d_);
  XChangeKeyboardMapping(d_, code, kBoundLevels, syms, 1);
  stale_ = true;
  remapped_ = true;
  // Failed() waits for the server: the key that follows meets the new mapping.
  return !trap.Failed();
}

std::unique_ptr<XTestKeySender> XTestKeySender::Open(const char* display, std::string& problem,
                                                     IDiagnostics& log) {
  auto keyboard = XTestKeyboard::Open(display, problem);
  if (!keyboard) return nullptr;
  return std::unique_ptr<XTestKeySender>(new XTestKeySender(std::move(keyboard), log));
}

}  // namespace tarvik::lnx
