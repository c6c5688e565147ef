#include "keys/linux/gnome_layout_linux.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <QProcess>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "core/linux/file_io_linux.h"

namespace tarvik::lnx {
namespace {

constexpr char kSchema[] = "org.gnome.desktop.input-sources";
constexpr char kXkbType[] = "xkb";
// mutter's rules and model (meta_backend_set_keymap's callers in GNOME Shell).
constexpr char kRules[] = "evdev";
constexpr char kModel[] = "pc105+inet";
// `gsettings get` reads a local database: it answers at once or not at all.
constexpr int kGsettingsTimeoutMs = 2000;
// Only the first layout of a keymap is compiled here.
constexpr xkb_layout_index_t kOnlyLayout = 0;
// The 8 core modifiers come first in every xkbcommon keymap, in X's order.
constexpr xkb_mod_mask_t kCoreMods = 0xFF;
constexpr std::size_t kMaxMasks = 16;
// A keyboard light's name ends so; its brightness file holds a small number.
constexpr std::string_view kCapsLockLight = "::capslock";
constexpr std::size_t kBrightnessLimit = 16;

// The quoted strings of a GVariant text, in order ('...' or "...", with \ escapes).
std::vector<std::string> QuotedStrings(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char quote = text[i];
    if (quote != '\'' && quote != '"') continue;
    std::string s;
    for (++i; i < text.size() && text[i] != quote; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      s += text[i];
    }
    out.push_back(std::move(s));
  }
  return out;
}

bool IsLockSym(xkb_keysym_t s) {
  return s == XKB_KEY_Caps_Lock || s == XKB_KEY_Shift_Lock || s == XKB_KEY_Num_Lock ||
         s == XKB_KEY_Scroll_Lock;
}
bool IsModifierSym(xkb_keysym_t s) {
  return (s >= XKB_KEY_Shift_L && s <= XKB_KEY_Hyper_R && !IsLockSym(s)) ||
         s == XKB_KEY_ISO_Level3_Shift || s == XKB_KEY_ISO_Level5_Shift || s == XKB_KEY_Mode_switch;
}
bool TapActs(xkb_keysym_t s) {
  return s == XKB_KEY_Alt_L || s == XKB_KEY_Alt_R || s == XKB_KEY_Meta_L || s == XKB_KEY_Meta_R ||
         s == XKB_KEY_Super_L || s == XKB_KEY_Super_R || s == XKB_KEY_Hyper_L || s == XKB_KEY_Hyper_R;
}

struct ContextFree {
  void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapFree {
  void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct StateFree {
  void operator()(xkb_state* s) const { xkb_state_unref(s); }
};

// The modifiers a key sets while held, as its action says (X's modifier map
// has no counterpart in libxkbcommon's interface).
std::uint8_t ModsWhileHeld(xkb_keymap* keymap, xkb_keycode_t code) {
  std::unique_ptr<xkb_state, StateFree> state(xkb_state_new(keymap));
  if (!state) return 0;
  xkb_state_update_key(state.get(), code, XKB_KEY_DOWN);
  return static_cast<std::uint8_t>(xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED) &
                                   kCoreMods);
}

// Every key of the schema, one a line: "SCHEMA KEY VALUE". One process a
// record: each costs a few milliseconds.
std::optional<std::string> ReadSchema(std::string& why) {
  QProcess p;
  p.start(QStringLiteral("gsettings"), {QStringLiteral("list-recursively"), QString::fromLatin1(kSchema)});
  if (!p.waitForFinished(kGsettingsTimeoutMs) || p.exitStatus() != QProcess::NormalExit ||
      p.exitCode() != 0) {
    why = "gsettings list-recursively " + std::string(kSchema) + " failed (" +
          (p.error() == QProcess::FailedToStart ? std::string("gsettings is not installed")
                                                : p.readAllStandardError().trimmed().toStdString()) +
          ")";
    if (p.state() != QProcess::NotRunning) {
      p.kill();
      p.waitForFinished(kGsettingsTimeoutMs);
    }
    return std::nullopt;
  }
  return p.readAllStandardOutput().toStdString();
}

// The value of `key` in ReadSchema's text; empty when it is not there.
std::string_view ValueOf(std::string_view text, std::string_view key) {
  const std::string prefix = std::string(kSchema) + " " + std::string(key) + " ";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    if (line.substr(0, prefix.size()) == prefix) return line.substr(prefix.size());
    at = end + 1;
  }
  return {};
}

}  // namespace

std::vector<InputSource> ParseInputSources(std::string_view text) {
  const std::vector<std::string> strings = QuotedStrings(text);
  std::vector<InputSource> out;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) out.emplace_back(strings[i], strings[i + 1]);
  return out;
}

std::vector<std::string> ParseStrings(std::string_view text) { return QuotedStrings(text); }

std::optional<XkbNames> CurrentXkbSource(const std::vector<InputSource>& sources,
                                         const std::vector<InputSource>& mru,
                                         const std::vector<std::string>& options) {
  const InputSource* current = sources.empty() ? nullptr : &sources.front();
  for (const InputSource& recent : mru) {
    if (std::find(sources.begin(), sources.end(), recent) != sources.end()) {
      current = &recent;
      break;
    }
  }
  if (!current || current->first != kXkbType || current->second.empty()) return std::nullopt;
  XkbNames names;
  const std::size_t plus = current->second.find('+');
  names.layout = current->second.substr(0, plus);
  if (plus != std::string::npos) names.variant = current->second.substr(plus + 1);
  for (const std::string& option : options) names.options += (names.options.empty() ? "" : ",") + option;
  return names;
}

bool CompileXkbKeymap(const XkbNames& names, XKeymap& out, std::string& why) {
  std::unique_ptr<xkb_context, ContextFree> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (!context) return why = "libxkbcommon has no context", false;
  xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);  // `why` tells the failure
  const xkb_rule_names rules{kRules, kModel, names.layout.c_str(), names.variant.c_str(),
                             names.options.c_str()};
  std::unique_ptr<xkb_keymap, KeymapFree> keymap(
      xkb_keymap_new_from_names(context.get(), &rules, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) {
    why = "the layout \"" + names.layout + (names.variant.empty() ? "" : "+" + names.variant) +
          "\" does not compile with libxkbcommon";
    return false;
  }
  xkb_keymap* km = keymap.get();
  out = XKeymap{};
  std::vector<Keycode> unused;
  const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(km), kKeyCodes - 1);
  for (xkb_keycode_t kc = xkb_keymap_min_keycode(km); kc <= last; ++kc) {
    const auto code = static_cast<Keycode>(kc);
    const std::uint8_t held = ModsWhileHeld(km, kc);
    const int levels = xkb_keymap_num_layouts_for_key(km, kc) == 0
                           ? 0
                           : static_cast<int>(xkb_keymap_num_levels_for_key(km, kc, kOnlyLayout));
    XKey key;
    bool modifierSym = false, tapActs = false, anySym = false;
    for (int l = 0; l < levels; ++l) {
      const xkb_keysym_t* syms = nullptr;
      const int n = xkb_keymap_key_get_syms_by_level(km, kc, kOnlyLayout, l, &syms);
      const xkb_keysym_t s = n > 0 ? syms[0] : XKB_KEY_NoSymbol;
      key.levels.push_back({static_cast<Keysym>(s), xkb_keysym_to_utf32(s)});
      anySym |= s != XKB_KEY_NoSymbol;
      modifierSym |= IsModifierSym(s);
      tapActs |= TapActs(s);
      xkb_mod_mask_t masks[kMaxMasks];
      const std::size_t count = xkb_keymap_key_get_mods_for_level(km, kc, kOnlyLayout, l, masks, kMaxMasks);
      for (std::size_t i = 0; i < count; ++i) {
        const auto mask = static_cast<std::uint8_t>(masks[i] & kCoreMods);
        key.typeMods |= mask;
        if (mask != 0) key.levelFor.push_back({mask, static_cast<std::uint8_t>(l)});
      }
    }
    if (!anySym) {
      if (held == 0) unused.push_back(code);
      continue;
    }
    const xkb_keysym_t first = key.levels.front().sym;
    out.keys[code] = std::move(key);
    if (IsLockSym(first) || (held == 0 && !modifierSym)) continue;
    out.modifiers.push_back({code, held, tapActs});
    if (first == XKB_KEY_Shift_L && !out.shift) out.shift = code;
    if (first == XKB_KEY_Control_L && !out.control) out.control = code;
    // The evdev rules give AltGr two keys: <LVL3> (92), which no keyboard
    // has (evdev has no key 84), and the right Alt key after it.
    if (first == XKB_KEY_ISO_Level3_Shift && held != 0) {
      out.level3 = code;
      out.level3Mask = held;
    }
  }
  // As X's keyboard is read: the highest unused keycode is the mask key.
  std::reverse(unused.begin(), unused.end());
  if (!unused.empty()) {
    out.mask = unused.front();
    out.spare.assign(unused.begin() + 1, unused.end());
  }
  return true;
}

std::optional<XKeymap> GnomeCurrentKeymap(std::string& why, XkbNames* namesOut) {
  const std::optional<std::string> schema = ReadSchema(why);
  if (!schema) return std::nullopt;
  const std::optional<XkbNames> names =
      CurrentXkbSource(ParseInputSources(ValueOf(*schema, "sources")),
                       ParseInputSources(ValueOf(*schema, "mru-sources")),
                       ParseStrings(ValueOf(*schema, "xkb-options")));
  if (!names) {
    why = "GNOME's input source in use is no XKB layout";
    return std::nullopt;
  }
  if (namesOut) *namesOut = *names;
  XKeymap map;
  if (!CompileXkbKeymap(*names, map, why)) return std::nullopt;
  return map;
}

std::optional<bool> CapsLockLit(const std::string& ledFolder) {
  std::optional<bool> lit;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(ledFolder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(kCapsLockLight)) continue;
    const std::string file = entry.path().string() + "/brightness";
    Fd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    std::string value;
    if (fd.fd < 0 || !ReadUpTo(fd.fd, kBrightnessLimit, value) || value.empty()) continue;
    lit = lit.value_or(false) || value[0] != '0';
  }
  return lit;
}

}  // namespace tarvik::lnx
