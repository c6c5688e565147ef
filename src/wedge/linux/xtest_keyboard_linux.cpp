#include "wedge/linux/xtest_keyboard_linux.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon.h>
// clang-format on

#include "wedge/linux/x_error_trap.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarvik::lnx {
namespace {

constexpr int kBitsPerByte = 8;
// Keysyms each keycode gets when a character is bound to it: the lower and
// upper case, so the key types it with Caps Lock on or off.
constexpr int kBoundLevels = 2;
constexpr int kXInputMajor = 2, kXInputMinor = 0;
// The XTest device of each master keyboard carries this in its name.
constexpr std::string_view kXTestDeviceMark = "XTEST";

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

std::unique_ptr<XTestKeyboard> XTestKeyboard::Open(const char* display, std::string& problem) {
  const std::string name = XDisplayName(display);
  Display* d = XOpenDisplay(display);
  if (!d) {
    problem = "the X display \"" + name + "\" cannot be opened";
    return nullptr;
  }
  int event = 0, error = 0, major = 0, minor = 0, opcode = 0;
  if (!XTestQueryExtension(d, &event, &error, &major, &minor)) {
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
  bool inputDevices = XQueryExtension(d, "XInputExtension", &opcode, &event, &error);
  major = kXInputMajor;
  minor = kXInputMinor;
  inputDevices = inputDevices && XIQueryVersion(d, &major, &minor) == Success;
  return std::unique_ptr<XTestKeyboard>(new XTestKeyboard(d, xkbEvent, inputDevices));
}

XTestKeyboard::XTestKeyboard(Display* display, int xkbEventType, bool inputDevices)
    : d_(display), xkbEventType_(xkbEventType), inputDevices_(inputDevices) {}

XTestKeyboard::~XTestKeyboard() { XCloseDisplay(d_); }

const XKeymap& XTestKeyboard::Keymap() {
  // The server tells every client of a changed mapping (another layout, a
  // key rebound); the notices wait on our connection until read here.
  while (XPending(d_) > 0) {
    XEvent ev;
    XNextEvent(d_, &ev);
    if (ev.type == xkbEventType_ || ev.type == MappingNotify) stale_ = true;
  }
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
  XKeyboardState st;
  XkbStateRec s{};
  if (XkbGetState(d_, XkbUseCoreKbd, &s) == Success) {
    if (s.group != group_) stale_ = true;
    group_ = s.group;
    st.locked = static_cast<std::uint8_t>(s.locked_mods | s.latched_mods);
  }
  char keys[kKeyCodes / kBitsPerByte] = {};
  XQueryKeymap(d_, keys);
  for (const auto& m : Keymap().modifiers)
    if (KeyBit(keys, m.code)) st.held.push_back(m.code);
  return st;
}

std::optional<std::vector<Keycode>> XTestKeyboard::PhysicallyHeld() {
  if (!inputDevices_) return std::nullopt;
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
  ErrorTrap trap(d_);
  for (const auto& e : events)
    if (!XTestFakeKeyEvent(d_, e.code, e.down ? True : False, CurrentTime)) return false;
  return !trap.Failed();
}

bool XTestKeyboard::Remap(Keycode code, Keysym sym) {
  ::KeySym syms[kBoundLevels] = {NoSymbol, NoSymbol};
  if (sym != xk::kNoSymbol) XConvertCase(sym, &syms[0], &syms[1]);
  ErrorTrap trap(d_);
  XChangeKeyboardMapping(d_, code, kBoundLevels, syms, 1);
  stale_ = true;
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
