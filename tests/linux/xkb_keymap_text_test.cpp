// The keymap our Wayland virtual keyboard hands the compositor, compiled
// back with libxkbcommon as the compositor compiles it: every keycode must
// give the keysym and character the model says, with no modifier held.
#include "wedge/linux/xkb_keymap_text.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <tuple>

#include "wedge/brace_keys.h"

namespace tarvik::lnx {
namespace {

using XkbContext = std::unique_ptr<xkb_context, decltype(&xkb_context_unref)>;
using XkbKeymap = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;
using XkbState = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

struct Compiled {
  // No include path: the text must stand on its own, as the compositor
  // may have other XKB data than ours.
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
  // What the key gives with nothing held: its keysym, none when it has none.
  xkb_keysym_t Sym(Keycode code) const { return xkb_state_key_get_one_sym(state.get(), code); }
  char32_t Char(Keycode code) const { return xkb_state_key_get_utf32(state.get(), code); }
};

// The keycode the model types a character or brace token on, with the
// events that type it; 0 when it needs a spare keycode.
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
    // One press and one release, nothing around them.
    EXPECT_EQ(events, (std::vector<XKeyAction>{{code, true}, {code, false}})) << token;
    const auto brace = BraceKeysym(token);
    EXPECT_EQ(xkb.Sym(code), brace ? *brace : KeysymFor(static_cast<unsigned char>(token[0])))
        << token;
    if (!brace) {
      EXPECT_EQ(xkb.Char(code), static_cast<char32_t>(token[0])) << token;
    }
  }
  // No key of ours is a modifier: pressing any leaves the state as it was.
  EXPECT_TRUE(map.modifiers.empty());
  EXPECT_EQ(map.shift + map.control + map.level3 + map.mask, 0);
}

TEST(XkbKeymapText, SpareKeycodesGetWhatIsBoundToThem) {
  const std::tuple<const char*, char32_t, xkb_keysym_t> cases[] = {
      {"\u00E9", U'\u00E9', XKB_KEY_eacute},
      {"\u20AC", U'\u20AC', 0x010020AC},  // by its Unicode keysym, as PlanXKeys asks
      {"\u03A9", U'\u03A9', 0x010003A9},
  };
  XKeymap map = OwnKeymap();
  ASSERT_FALSE(map.spare.empty());
  for (const auto& [token, ch, sym] : cases) {
    const Keycode spare = map.spare.front();
    EXPECT_EQ(CodeFor(map, token), 0) << token;
    SetOwnKey(map, spare, PlanXKeys(token, map, {}).missing);
    EXPECT_EQ(CodeFor(map, token), spare) << token;
    EXPECT_NE(map.spare.front(), spare) << token;
    const Compiled xkb(map);
    ASSERT_TRUE(xkb.keymap) << token;
    EXPECT_EQ(xkb.Sym(spare), sym) << token;
    EXPECT_EQ(xkb.Char(spare), ch) << token;
  }
}

TEST(XkbKeymapText, AReboundKeycodeGivesItsNewKeysymAndAnUnboundOneNothing) {
  XKeymap map = OwnKeymap();
  const Keycode code = map.spare.back();
  SetOwnKey(map, code, KeysymFor(U'\u00E9'));
  SetOwnKey(map, code, xk::kUnicodeOffset + U'\u20AC');
  const Keycode a = CodeFor(map, "a");
  SetOwnKey(map, a, xk::kNoSymbol);
  const Compiled xkb(map);
  ASSERT_TRUE(xkb.keymap);
  EXPECT_EQ(xkb.Char(code), U'\u20AC');
  EXPECT_EQ(xkb.Sym(a), XKB_KEY_NoSymbol);
  EXPECT_EQ(map.spare.front(), a);
  EXPECT_EQ(CodeFor(map, "\u00E9"), 0);
}

}  // namespace
}  // namespace tarvik::lnx
