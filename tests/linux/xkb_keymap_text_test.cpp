// Our virtual keyboard's keymap, compiled as the compositor (libxkbcommon) and
// Xwayland (xkbcomp) compile it: each keycode gives the model's keysym.
#include "keys/linux/xkb_keymap_text.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "keys/brace_keys.h"

namespace tarvik::lnx {
namespace {

using XkbContext = std::unique_ptr<xkb_context, decltype(&xkb_context_unref)>;
using XkbKeymap = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;
using XkbState = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

struct Compiled {
  // No include path: the compositor may have other XKB data than ours.
  XkbContext context{xkb_context_new(static_cast<xkb_context_flags>(
                         XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)),
                     &xkb_context_unref};
  XkbKeymap keymap{nullptr, &xkb_keymap_unref};
  XkbState state{nullptr, &xkb_state_unref};

  explicit Compiled(const XKeymap& map) {
    const std::string text = XkbKeymapText(map);
    keymap.reset(xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                            XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap) state.reset(xkb_state_new(keymap.get()));
  }
  xkb_keysym_t Sym(Keycode code) const { return xkb_state_key_get_one_sym(state.get(), code); }
  char32_t Char(Keycode code) const { return xkb_state_key_get_utf32(state.get(), code); }
  // The keymap as the compositor passes it on: libxkbcommon's own text.
  std::string AsPassedOn() const {
    std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    return text ? text.get() : "";
  }
};

// The sections an .xkm holds; Xwayland takes a keymap only with all these.
constexpr std::uint32_t kXkmMagic = 'x' << 24 | 'k' << 16 | 'm' << 8 | 15;
constexpr unsigned kXkmTypes = 1 << 0, kXkmCompat = 1 << 1, kXkmSymbols = 1 << 2,
                   kXkmKeyNames = 1 << 4, kXkmVirtualMods = 1 << 6;
constexpr unsigned kXkmNeeded = kXkmTypes | kXkmCompat | kXkmSymbols | kXkmKeyNames | kXkmVirtualMods;
constexpr std::size_t kXkmPresentAt = 8;  // after the magic, type and keycode range, section count

// xkbcomp's compile of a text, written back: sections, level-1 keysym per keycode.
struct XkbcompResult {
  bool compiled = false;
  unsigned present = 0;
  std::map<unsigned, xkb_keysym_t> syms;
  std::string messages;
};

bool HaveXkbcomp() { return std::system("command -v xkbcomp >/dev/null 2>&1") == 0; }

std::string ReadAll(const std::filesystem::path& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

XkbcompResult Xkbcomp(const std::string& text) {
  XkbcompResult r;
  char dirName[] = "/tmp/tarvik-xkbcomp-XXXXXX";
  if (!mkdtemp(dirName)) return r;
  const std::filesystem::path dir = dirName;
  std::ofstream(dir / "in.xkb", std::ios::binary) << text;
  const std::string d = "'" + dir.string() + "/";
  // -w0: the server too ignores warnings; only errors count.
  const std::string compile = "xkbcomp -w0 " + d + "in.xkb' " + d + "out.xkm' 2>" + d + "errors'";
  const std::string back = "xkbcomp -w0 -xkb " + d + "out.xkm' " + d + "out.xkb' 2>>" + d + "errors'";
  r.compiled = std::system(compile.c_str()) == 0 && std::system(back.c_str()) == 0;
  r.messages = ReadAll(dir / "errors");
  const std::string xkm = ReadAll(dir / "out.xkm");
  std::uint32_t magic = 0;
  std::uint16_t present = 0;
  if (xkm.size() >= kXkmPresentAt + sizeof present) {
    std::memcpy(&magic, xkm.data(), sizeof magic);
    std::memcpy(&present, xkm.data() + kXkmPresentAt, sizeof present);
    if (magic == kXkmMagic) r.present = present;
  }
  const std::string out = ReadAll(dir / "out.xkb");
  std::map<std::string, unsigned> codes;
  const std::regex code(R"(<(\w+)>\s*=\s*(\d+)\s*;)"), key(R"(key\s*<(\w+)>\s*\{\s*\[\s*(\w+)\s*\])");
  for (std::sregex_iterator m(out.begin(), out.end(), code), end; m != end; ++m)
    codes[(*m)[1]] = static_cast<unsigned>(std::stoul((*m)[2]));
  for (std::sregex_iterator m(out.begin(), out.end(), key), end; m != end; ++m)
    r.syms[codes[(*m)[1]]] = xkb_keysym_from_name((*m)[2].str().c_str(), XKB_KEYSYM_NO_FLAGS);
  std::filesystem::remove_all(dir);
  return r;
}

// The keycode the model types a token on (0: needs a spare), and its events.
Keycode CodeFor(const XKeymap& map, std::string_view token, std::vector<XKeyAction>* events = nullptr) {
  const XKeyPlan plan = PlanXKeys(token, map, {});
  if (events) *events = plan.events;
  return plan.missing == xk::kNoSymbol && !plan.events.empty() ? plan.events.front().code : 0;
}

TEST(XkbKeymapText, EveryAsciiCharacterAndBraceKeyIsOneKeyWithNoModifier) {
  const XKeymap map = OwnKeymap();
  const Compiled xkb(map);
  ASSERT_TRUE(xkb.keymap) << XkbKeymapText(map);
  std::vector<std::string> tokens;
  for (char c = ' '; c <= '~'; ++c) tokens.emplace_back(1, c);
  for (auto token : BraceTokens()) tokens.emplace_back(token);
  for (const auto& token : tokens) {
    std::vector<XKeyAction> events;
    const Keycode code = CodeFor(map, token, &events);
    ASSERT_NE(code, 0) << token;
    EXPECT_EQ(events, (std::vector<XKeyAction>{{code, true}, {code, false}})) << token;
    const auto brace = BraceKeysym(token);
    EXPECT_EQ(xkb.Sym(code), brace ? *brace : KeysymFor(static_cast<unsigned char>(token[0])))
        << token;
    EXPECT_EQ(xkb.Char(code), brace ? xkb.Char(code) : static_cast<char32_t>(token[0])) << token;
  }
  EXPECT_TRUE(map.modifiers.empty());
  EXPECT_EQ(map.shift + map.control + map.level3 + map.mask, 0);
}

// Xwayland silently keeps its default map when xkbcomp fails or lacks a
// section. Checked for our text and the one passed on, with spare keycodes
// bound (one twice) and a key unbound, which becomes a spare one.
TEST(XkbKeymapText, EveryKeycodeGivesItsKeysymToLibxkbcommonAndXkbcomp) {
  ASSERT_TRUE(HaveXkbcomp()) << "xkbcomp is needed for this test (Debian: x11-xkb-utils)";
  XKeymap own = OwnKeymap(), spares = OwnKeymap(), unbound = OwnKeymap();
  ASSERT_FALSE(spares.spare.empty());
  for (const char* token : {"\u00E9", "\u20AC", "\u03A9", "\u0416", "\u00FF"}) {
    const Keycode spare = spares.spare.front();
    EXPECT_EQ(CodeFor(spares, token), 0) << token;
    SetOwnKey(spares, spare, PlanXKeys(token, spares, {}).missing);
    EXPECT_EQ(CodeFor(spares, token), spare) << token;
    EXPECT_NE(spares.spare.front(), spare) << token;
  }
  const Keycode again = spares.spare.back();
  SetOwnKey(spares, again, KeysymFor(U'\u00E8'));
  SetOwnKey(spares, again, xk::kUnicodeOffset + U'\u00A7');
  EXPECT_EQ(CodeFor(spares, "\u00E8"), 0) << "its old character";
  const Keycode a = CodeFor(unbound, "a");
  SetOwnKey(unbound, a, xk::kNoSymbol);
  EXPECT_EQ(unbound.spare.front(), a);
  const std::pair<const char*, const XKeymap*> maps[] = {
      {"own", &own}, {"with spares bound", &spares}, {"with a key unbound", &unbound}};
  for (const auto& [name, map] : maps) {
    const Compiled xkb(*map);
    ASSERT_TRUE(xkb.keymap) << name;
    const auto want = [&](unsigned c) {
      const auto& levels = map->keys[c].levels;
      return levels.empty() ? xkb_keysym_t{XKB_KEY_NoSymbol} : levels.front().sym;
    };
    for (unsigned c = kFirstKeycode; c <= kLastKeycode; ++c)
      EXPECT_EQ(xkb.Sym(c), want(c)) << name << ", libxkbcommon, keycode " << c;
    const std::pair<const char*, std::string> texts[] = {{"ours", XkbKeymapText(*map)},
                                                         {"as passed on", xkb.AsPassedOn()}};
    for (const auto& [how, text] : texts) {
      SCOPED_TRACE(std::string(name) + ", " + how);
      const XkbcompResult x = Xkbcomp(text);
      ASSERT_TRUE(x.compiled) << x.messages << text;
      EXPECT_EQ(x.present & kXkmNeeded, kXkmNeeded) << std::hex << x.present;
      for (unsigned c = kFirstKeycode; c <= kLastKeycode; ++c) {
        const auto got = x.syms.find(c);
        EXPECT_EQ(got == x.syms.end() ? XKB_KEY_NoSymbol : got->second, want(c)) << "keycode " << c;
      }
    }
  }
}

}  // namespace
}  // namespace tarvik::lnx
