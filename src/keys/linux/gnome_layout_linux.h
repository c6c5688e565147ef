// The layout GNOME's compositor types with now. mutter tells its layout
// group and Caps Lock only to the focused client, so Xwayland's copy is
// stale whenever a Wayland window has the focus: a user who switched from
// us to de there would get the us keys for a de scan. GNOME Shell keeps the
// input source in use first in org.gnome.desktop.input-sources mru-sources
// (the list in `sources` until the user switches), and builds mutter's
// keymap from its XKB name with the evdev rules; the same is compiled here
// with libxkbcommon. Caps Lock has no such record; mutter lights it on
// every keyboard it drives, and the kernel shows those lights to everyone
// (CapsLockLit). Without a keyboard of its own (a virtual machine's or a
// remote desktop's only), Xwayland's copy is all there is.
//
// The portal's NotifyKeyboardKeysym would leave the choice to mutter, but
// mutter 43 then presses the level's Shift or AltGr itself, right before the
// key (the very haste that makes it apply them late), ignores Caps Lock (a
// lower-case letter comes out upper case while it is on), and knows only
// levels 2 and 3 (Shift, AltGr): keycodes planned here are exact where it is not.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "keys/linux/xkb_plan.h"

namespace tarvik::lnx {

// One input source as GSettings lists it: ("xkb", "de+nodeadkeys"), ("ibus", "anthy").
using InputSource = std::pair<std::string, std::string>;

// The sources in a GVariant text of type a(ss), as `gsettings get` prints it.
std::vector<InputSource> ParseInputSources(std::string_view text);
// The strings in a GVariant text of type as.
std::vector<std::string> ParseStrings(std::string_view text);

// The XKB names mutter compiles its keymap from.
struct XkbNames {
  std::string layout, variant, options;
  bool operator==(const XkbNames&) const = default;
};

// The source in use: the first of mru-sources that is still configured, else
// the first configured. Nothing when none is an XKB layout (an input method
// brings its own), or none is configured (the system's default layout holds).
std::optional<XkbNames> CurrentXkbSource(const std::vector<InputSource>& sources,
                                         const std::vector<InputSource>& mru,
                                         const std::vector<std::string>& options);

// The keymap of those names, as mutter compiles it; false, and `why`, when
// libxkbcommon cannot.
bool CompileXkbKeymap(const XkbNames& names, XKeymap& out, std::string& why);

// Whether Caps Lock is on, from the lights of the keyboards in `ledFolder`
// (the kernel's /sys/class/leds: "input3::capslock"): nothing when no
// keyboard has one.
inline constexpr char kLedFolder[] = "/sys/class/leds";
std::optional<bool> CapsLockLit(const std::string& ledFolder = kLedFolder);

// Reads GNOME's settings (through the gsettings tool, which reads them as
// GNOME Shell does) and compiles the source in use. Nothing, and `why`, when
// they cannot be read or name no XKB layout.
std::optional<XKeymap> GnomeCurrentKeymap(std::string& why, XkbNames* names = nullptr);

}  // namespace tarvik::lnx
