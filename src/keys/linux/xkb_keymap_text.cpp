#include "keys/linux/xkb_keymap_text.h"

#include <algorithm>
#include <cstdio>

#include "keys/brace_keys.h"

namespace tarvik::lnx {
namespace {

constexpr char32_t kFirstPrintable = 0x20, kLastPrintable = 0x7E;
// Keysyms from here up to kLatin1Last, and the Unicode ones, type a character.
constexpr Keysym kFirstCharKeysym = 0x20;
constexpr Keysym kKeysymDigits = 16;  // "0x" and up to 8 hex digits, with room

char32_t CharOf(Keysym sym) {
  if (sym >= kFirstCharKeysym && sym <= xk::kLatin1Last) return sym;
  if (sym > xk::kUnicodeOffset) return sym - xk::kUnicodeOffset;
  return 0;
}

std::string Hex(Keysym sym) {
  char buf[kKeysymDigits];
  std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(sym));
  return buf;
}

XKey OneLevelKey(Keysym sym) {
  return sym == xk::kNoSymbol ? XKey{} : XKey{{XLevel{sym, CharOf(sym)}}, 0, {}};
}

void ListSpare(XKeymap& map) {
  map.spare.clear();
  for (unsigned c = kFirstKeycode; c <= kLastKeycode; ++c)
    if (map.keys[c].levels.empty()) map.spare.push_back(static_cast<Keycode>(c));
}

}  // namespace

void SetOwnKey(XKeymap& map, Keycode code, Keysym sym) {
  if (code < kFirstKeycode) return;
  map.keys[code] = OneLevelKey(sym);
  ListSpare(map);
}

XKeymap OwnKeymap() {
  std::vector<Keysym> syms;
  for (char32_t ch = kFirstPrintable; ch <= kLastPrintable; ++ch) syms.push_back(KeysymFor(ch));
  for (auto token : BraceTokens())
    if (const auto sym = BraceKeysym(token);
        sym && std::find(syms.begin(), syms.end(), *sym) == syms.end())
      syms.push_back(*sym);
  XKeymap map;
  unsigned code = kFirstKeycode;
  for (Keysym sym : syms) map.keys[code++] = OneLevelKey(sym);
  ListSpare(map);
  return map;
}

std::string XkbKeymapText(const XKeymap& map) {
  std::string codes, symbols;
  for (unsigned c = kFirstKeycode; c <= kLastKeycode; ++c) {
    const XKey& key = map.keys[c];
    if (key.levels.empty() || key.levels.front().sym == xk::kNoSymbol) continue;
    const std::string name = "<I" + std::to_string(c) + ">";
    codes += "    " + name + " = " + std::to_string(c) + ";\n";
    symbols += "    key " + name + " { [ " + Hex(key.levels.front().sym) + " ] };\n";
  }
  // libxkbcommon (the compositor, native clients) would take a keymap with
  // one key type and nothing else, but Xwayland compiles what the compositor
  // passes on with xkbcomp and throws the result away, silently keeping its
  // own default map, unless it holds key types, a compatibility map and
  // virtual modifiers: xkbcomp leaves out a compatibility section without an
  // interpretation and a virtual modifier section with nothing declared. So
  // the text has what every X keymap has: the four types the core protocol
  // fixes, NumLock declared, the interpretation that makes a key in the
  // modifier map set its modifiers. No key here is in that map, so none of
  // it ever applies.
  return "xkb_keymap {\n"
         "  xkb_keycodes \"tarvik\" {\n"
         "    minimum = 8;\n"
         "    maximum = 255;\n" +
         codes +
         "  };\n"
         "  xkb_types \"tarvik\" {\n"
         "    virtual_modifiers NumLock;\n"
         "    type \"ONE_LEVEL\" {\n"
         "      modifiers = none;\n"
         "      level_name[Level1] = \"Any\";\n"
         "    };\n"
         "    type \"TWO_LEVEL\" {\n"
         "      modifiers = Shift;\n"
         "      map[Shift] = Level2;\n"
         "      level_name[Level1] = \"Base\";\n"
         "      level_name[Level2] = \"Shift\";\n"
         "    };\n"
         "    type \"ALPHABETIC\" {\n"
         "      modifiers = Shift + Lock;\n"
         "      map[Shift] = Level2;\n"
         "      map[Lock] = Level2;\n"
         "      level_name[Level1] = \"Base\";\n"
         "      level_name[Level2] = \"Caps\";\n"
         "    };\n"
         "    type \"KEYPAD\" {\n"
         "      modifiers = Shift + NumLock;\n"
         "      map[Shift] = Level2;\n"
         "      map[NumLock] = Level2;\n"
         "      level_name[Level1] = \"Base\";\n"
         "      level_name[Level2] = \"Number\";\n"
         "    };\n"
         "  };\n"
         "  xkb_compatibility \"tarvik\" {\n"
         "    virtual_modifiers NumLock;\n"
         "    interpret Any + AnyOf(all) {\n"
         "      action = SetMods(modifiers = modMapMods, clearLocks);\n"
         "    };\n"
         "  };\n"
         "  xkb_symbols \"tarvik\" {\n" +
         symbols +
         "  };\n"
         "};\n";
}

}  // namespace tarvik::lnx
