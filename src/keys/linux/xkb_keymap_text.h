// The keymap of a keyboard of our own making, as data and as the XKB text a
// Wayland compositor compiles: every printable ASCII character and every
// brace key on a keycode of its own, on the first level, so no key ever
// needs a modifier; no modifier keys at all; every other keycode spare, to
// bind a missing character to. No Wayland or xkbcommon header here.
#pragma once
#include <string>

#include "keys/linux/xkb_plan.h"

namespace tarvik::lnx {

// X numbers keycodes from 8 (evdev code 0); 8 itself is never a key.
inline constexpr Keycode kFirstKeycode = 9;
inline constexpr Keycode kLastKeycode = 255;
inline constexpr unsigned kEvdevOffset = 8;

// Printable ASCII from kFirstKeycode on, then the brace keys' keysyms.
XKeymap OwnKeymap();

// Gives a keycode a keysym (xk::kNoSymbol: none) on its one level, and
// keeps the list of spare keycodes in step.
void SetOwnKey(XKeymap& map, Keycode code, Keysym sym);

// The whole keymap in XKB text (format v1), each bound keycode with its
// keysym by number.
std::string XkbKeymapText(const XKeymap& map);

}  // namespace tarvik::lnx
