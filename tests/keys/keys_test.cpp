// The keys for a character or token on a layout, and their injection around
// the keys the user holds.
#include "keys/win/key_plan.h"

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "fakes/fake_keyboard.h"
#include "shape/rules.h"
#include "keys/win/key_injector.h"

namespace tarvik {
namespace {

using namespace testing;
using R = KeyEvent::Role;

KeyEvent Down(std::uint16_t v, std::uint16_t scan, R role = R::Key, bool ext = false) {
  return {v, scan, false, ext, role};
}
KeyEvent Up(std::uint16_t v, std::uint16_t scan, R role = R::Key, bool ext = false) {
  return {v, scan, true, ext, role};
}

using Events = std::vector<KeyEvent>;

// The SendInput events for a token, around the modifier keys held.
Events PlanKeyTokens(std::string_view token, const IKeyboardLayout& layout, const KeyboardState& st,
                     const std::vector<std::uint8_t>& held = {}) {
  std::vector<typing::KeyId> ids;
  for (auto v : held) ids.push_back(ModifierKeyId(v));
  return ToKeyEvents(typing::Wrap(PlanKeyStroke(token, layout, st), ids, WinModifierKeys()).events);
}

// What the events type into a window, which must be left with no key down
// and no character typed as a chord.
std::u32string Typed(const Events& events, const IKeyboardLayout& layout, bool caps = false) {
  FakeKeyboard kb(layout);
  kb.capsLock = caps;
  kb.Inject(events);
  EXPECT_EQ(std::pair(kb.Down(), kb.chords), std::pair(0, 0));
  return kb.typed;
}

TEST(KeyPlan, UsKeysExactly) {
  const auto us = UsLayout();
  const std::pair<std::string, Events> cases[] = {
      {"A", {Down(vk::kLShift, 0x2A, R::Modifier), Down('A', 0x1E), Up('A', 0x1E), Up(vk::kLShift, 0x2A, R::Modifier)}},
      {"b", {Down('B', 0x30), Up('B', 0x30)}}, {"1", {Down('1', 0x02), Up('1', 0x02)}},
      {"\t", {Down(vk::kTab, 0x0F), Up(vk::kTab, 0x0F)}},
      {"{BREAK}", {Down(vk::kLControl, 0x1D, R::Modifier), Down(vk::kCancel, 0x46, R::Key, true),
                   Up(vk::kCancel, 0x46, R::Key, true), Up(vk::kLControl, 0x1D, R::Modifier)}},
      // Missing from the layout: Unicode; beyond 16 bits, a surrogate pair.
      {"\u00E9", {Down(0, 0xE9, R::Unicode), Up(0, 0xE9, R::Unicode)}},
      {"\U0001F600", {Down(0, 0xD83D, R::Unicode), Up(0, 0xD83D, R::Unicode), Down(0, 0xDE00, R::Unicode),
                       Up(0, 0xDE00, R::Unicode)}},
      // Control characters type nothing, never a Ctrl chord; a Unicode token sends one itself.
      {"\x17", {}}, {"\r", {}}, {std::string(1, '\0'), {}}, {"\x7F", {}},
      {"{U+001D}", {Down(0, 0x1D, R::Unicode), Up(0, 0x1D, R::Unicode)}},
  };
  for (const auto& [token, events] : cases) EXPECT_EQ(PlanKeyTokens(token, us, {}), events) << token;
  // Every other brace token as its key; the navigation keys are extended.
  const std::tuple<std::string, std::uint16_t, std::uint16_t, bool> braces[] = {
      {"{BS}", 0x08, 0x0E, false}, {"{DOWN}", 0x28, 0x50, true},
      {"{END}", 0x23, 0x4F, true}, {"{ENTER}", 0x0D, 0x1C, false}, {"{ESC}", 0x1B, 0x01, false},
      {"{HOME}", 0x24, 0x47, true}, {"{LEFT}", 0x25, 0x4B, true}, {"{PGDN}", 0x22, 0x51, true},
      {"{RIGHT}", 0x27, 0x4D, true}, {"{TAB}", 0x09, 0x0F, false}, {"{UP}", 0x26, 0x48, true},
      {"{F1}", 0x70, 0x3B, false}, {"{F10}", 0x79, 0x44, false}, {"{F11}", 0x7A, 0x57, false},
      {"{F12}", 0x7B, 0x58, false}};
  for (const auto& [token, v, scan, ext] : braces)
    EXPECT_EQ(PlanKeyTokens(token, us, {}), (Events{Down(v, scan, R::Key, ext), Up(v, scan, R::Key, ext)}))
        << token;
  for (int n = 2; n <= 9; ++n) EXPECT_EQ(PlanKeyTokens("{F" + std::to_string(n) + "}", us, {})[0].vk, 0x6F + n);
  EXPECT_FALSE(FindBraceKey("{PGUP}"));
  // Characters other key syntaxes reserve type themselves.
  for (auto ch : {"+", "{", "["}) EXPECT_EQ(Typed(PlanKeyTokens(ch, us, {}), us), DecodeUtf8(ch)) << ch;
}

// What each character types, with Caps Lock off and on, and the keys of the
// German layout that differ from the US one.
TEST(KeyPlan, OtherLayoutsAndCapsLockKeepTheCharacterExact) {
  const auto us = UsLayout(), de = GermanLayout();
  KeyboardState caps;
  caps.capsLock = true;
  const std::pair<const IKeyboardLayout*, const char*> typed[] = {
      {&us, "A"}, {&us, "b"}, {&us, "Z"}, {&us, "y"}, {&us, "1"}, {&us, "!"}, {&us, "@"}, {&us, "^"},
      {&de, "z"}, {&de, "y"}, {&de, "@"}, {&de, "\u20AC"}};
  for (const auto& [layout, ch] : typed)
    for (bool on : {false, true})
      EXPECT_EQ(Typed(PlanKeyTokens(ch, *layout, on ? caps : KeyboardState{}), *layout, on), DecodeUtf8(ch))
          << ch << " caps " << on;
  // With Caps Lock on, a capital needs no Shift at all.
  EXPECT_EQ(PlanKeyTokens("A", us, caps), (Events{Down('A', 0x1E), Up('A', 0x1E)}));
  // z and y swap keys; AltGr is left Ctrl + right Alt (extended) around the key.
  EXPECT_EQ(PlanKeyTokens("z", de, {})[0], Down('Y', 0x15));
  EXPECT_EQ(PlanKeyTokens("y", de, {})[0], Down('Z', 0x2C));
  EXPECT_EQ(PlanKeyTokens("@", de, {}), (Events{Down(vk::kLControl, 0x1D, R::Modifier),
                                   Down(vk::kRMenu, 0x38, R::Modifier, true), Down('Q', 0x10),
                                   Up('Q', 0x10), Up(vk::kRMenu, 0x38, R::Modifier, true),
                                   Up(vk::kLControl, 0x1D, R::Modifier)}));
  EXPECT_EQ(PlanKeyTokens("\u00DF", de, {}), (Events{Down(0xDB, 0x0C), Up(0xDB, 0x0C)}));
  // "^" is a dead key there: it goes as Unicode so it cannot combine with the
  // next; on the US layout it is Shift+6.
  EXPECT_EQ(PlanKeyTokens("^", de, {}), (Events{Down(0, '^', R::Unicode), Up(0, '^', R::Unicode)}));
  EXPECT_EQ(PlanKeyTokens("^", us, {})[1], Down('6', 0x07));
}

// The user's keys let go with their own scan codes, the mask key (0xE8, no
// scan code) before an Alt or Windows key's release.
TEST(KeyPlan, HeldModifiersAreLetGoWithTheirScanCodes) {
  const auto us = UsLayout();
  const KeyEvent mask = Down(vk::kMask, 0, R::Mask), unmask = Up(vk::kMask, 0, R::Mask);
  EXPECT_EQ(PlanKeyTokens("w", us, {}, {vk::kLControl, vk::kRMenu}),
            (Events{Up(vk::kLControl, 0x1D, R::UserRelease), mask, unmask,
                    Up(vk::kRMenu, 0x38, R::UserRelease, true), Down('W', 0x11), Up('W', 0x11)}));
  // The Windows key is let go even around a brace token.
  EXPECT_EQ(PlanKeyTokens("{TAB}", us, {}, {vk::kLWin})[2], Up(vk::kLWin, 0x5B, R::UserRelease, true));
}

TEST(KeyPlan, ALayoutAskingForCtrlOrAltAloneGetsUnicode) {
  FakeLayout l;
  l.Key(U'x', 'X', kAltBit, 0x2D);
  l.Key(U'q', 'Q', kCtrlBit, 0x10);
  l.Key(U'k', 'K', 8, 0x25);  // a Kana-state key
  for (auto ch : {"x", "q", "k"})
    EXPECT_EQ(PlanKeyTokens(ch, l, {}), (Events{Down(0, ch[0], R::Unicode), Up(0, ch[0], R::Unicode)})) << ch;
}

TEST(Utf8, RoundTripAndMalformedInput) {
  const std::string s = "A\u00E9\u20AC\U0001F600";
  EXPECT_EQ(DecodeUtf8(s), (std::u32string{U'A', 0xE9, 0x20AC, 0x1F600}));
  EXPECT_EQ(EncodeUtf8(DecodeUtf8(s)), s);
  EXPECT_EQ(DecodeUtf8("\xC3"), std::u32string(1, kReplacementChar));
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), (std::u32string{kReplacementChar, kReplacementChar}));
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80").front(), kReplacementChar);  // a lone surrogate
}

// The injector on a US keyboard.
class Injecting : public ::testing::Test {
 protected:
  const FakeLayout us = UsLayout();
  FakeKeyboard kb{us};
  KeyInjector keys{kb};
};

// The policy's own cases are in typing_policy_test.cpp, the Windows keys
// around a key in the tests above; here, that the hook's view of the fingers
// reaches it: keys still held are down again, and a key no finger holds goes
// up at the record's end.
TEST_F(Injecting, HeldKeysAreDownAgainAndAStrayOneGoesUpAtTheEnd) {
  kb.User(vk::kLControl, true);
  kb.User(vk::kRShift, true);
  keys.BeginRecord();
  for (auto t : {"w", "A"}) EXPECT_TRUE(keys.SendKeyTokens(t)) << t;
  kb.logical[vk::kLMenu] = true;  // pressed by another program and left down
  keys.EndRecord();
  EXPECT_EQ(EncodeUtf8(kb.typed), "wA");
  EXPECT_EQ(std::pair(kb.Stray(), kb.chords), std::pair(0, 0));
  EXPECT_TRUE(kb.logical[vk::kLControl] && kb.logical[vk::kRShift]);
}

// Unicode packets or keys, from what the focused thread has active, or as
// the rules force it: a layout alone never composes, whatever its language.
TEST(KeyPlan, TheInputProfileDecidesUnicodeOrKeys) {
  using K = InputProfile::Kind;
  constexpr std::uintptr_t kUs = 0x04090409, kJapanese = 0x04110411, kKorean = 0x04120412,
                           kChineseIme = 0xE0010804, kVietnamese = 0x042A042A, kHindi = 0x04390439,
                           kAmharic = 0x045E045E, kUsVariant = 0xF0020409;
  constexpr auto kAuto = KeyMode::kAuto;
  const std::optional<bool> unknown, off = false, on = true;
  const struct {
    const char* what;
    InputProfile profile;
    KeyMode mode;
    bool unicode;
  } cases[] = {
      {"US layout", {kUs, K::kLayout, off}, kAuto, false},
      {"US, nothing known", {kUs, K::kUnknown, unknown}, kAuto, false},
      {"a US variant layout", {kUsVariant, K::kLayout, unknown}, kAuto, false},
      {"an input method says open", {kUs, K::kLayout, on}, kAuto, true},
      {"Japanese, IME off", {kJapanese, K::kTextService, off}, kAuto, false},
      {"Japanese, IME on", {kJapanese, K::kTextService, on}, kAuto, true},
      {"Japanese, IME silent", {kJapanese, K::kTextService, unknown}, kAuto, true},
      {"Japanese, no TSF, IME off", {kJapanese, K::kUnknown, off}, kAuto, false},
      {"Japanese, no TSF, IME silent", {kJapanese, K::kUnknown, unknown}, kAuto, true},
      {"Korean layout alone", {kKorean, K::kLayout, unknown}, kAuto, false},
      {"Chinese IMM IME, silent", {kChineseIme, K::kLayout, unknown}, kAuto, true},
      {"Chinese IMM IME, off", {kChineseIme, K::kUnknown, off}, kAuto, false},
      {"Vietnamese Telex", {kVietnamese, K::kTextService, off}, kAuto, true},
      {"Vietnamese layout", {kVietnamese, K::kLayout, off}, kAuto, false},
      {"Hindi phonetic", {kHindi, K::kTextService, unknown}, kAuto, true},
      {"Amharic", {kAmharic, K::kTextService, off}, kAuto, true},
      {"rules: layout over an open IME", {kJapanese, K::kTextService, on}, KeyMode::kLayout, false},
      {"rules: layout over Telex", {kVietnamese, K::kTextService, off}, KeyMode::kLayout, false},
      {"rules: unicode on a US layout", {kUs, K::kLayout, off}, KeyMode::kUnicode, true},
  };
  for (const auto& c : cases) EXPECT_EQ(SendsUnicode(c.profile, c.mode), c.unicode) << c.what;
}

TEST_F(Injecting, AnInputMethodThatComposesGetsCharactersAsPacketsAndKeysAsKeys) {
  kb.profile.open = true;
  keys.BeginRecord();
  for (auto t : {"a", "B", "\t", "{ENTER}"}) keys.SendKeyTokens(t);
  keys.EndRecord();
  std::vector<std::pair<std::uint16_t, R>> downs;
  for (const auto& e : kb.injected)
    if (!e.up) downs.emplace_back(e.vk ? e.vk : e.scan, e.role);
  EXPECT_EQ(downs, (std::vector<std::pair<std::uint16_t, R>>{
                       {'a', R::Unicode}, {'B', R::Unicode}, {vk::kTab, R::Key}, {vk::kReturn, R::Key}}));
  // The input method is read once per record.
  kb.profile.open = false;
  keys.SendKeyTokens("a");
  EXPECT_EQ(kb.injected.back().role, R::Unicode);
  // The rules' word for a section reaches the record's keys.
  const Rules rules = ParseRules("[all]\nkeys = unicode\n[app vm.exe]\nkeys = layout\n[app b.exe]\nkeys = auto\n"
                                 "[app c.exe]\nkeys = scancodes\n");
  ASSERT_EQ(rules.problems.size(), 1u);
  EXPECT_EQ(rules.problems.front().line, 8);
  for (const auto& [program, role] : {std::pair("vm.exe", R::Key), std::pair("notepad.exe", R::Unicode),
                                      std::pair("b.exe", R::Key)}) {
    kb.profile.open = program == std::string("vm.exe");
    keys.SetKeyMode(ApplyRules(rules, U"a", {program, "", ""}).keys.keyMode);
    keys.BeginRecord();
    keys.SendKeyTokens("a");
    EXPECT_EQ(kb.injected.back().role, role) << program;
  }
}

// Read once before each key: the record's first key takes the reading made as
// the record began, every later one a new reading, as the user may switch
// layouts between two keys.
TEST_F(Injecting, TheLayoutIsReadOnceBeforeEachKey) {
  const auto german = GermanLayout();
  kb.afterInject = [&](int call) { if (call == 0) kb.Switch(german); };
  keys.BeginRecord();
  for (auto t : {"z", "y", "2"}) EXPECT_TRUE(keys.SendKeyTokens(t));
  keys.EndRecord();
  EXPECT_EQ(EncodeUtf8(kb.typed), "zy2");
  EXPECT_EQ(kb.layoutReads, 3);
}

// SendInput says how many events it took: only those are undone.
TEST_F(Injecting, ARefusalPartWayLeavesNothingDown) {
  kb.User(vk::kLControl, true);  // let go for the key
  kb.shortCall = 0;
  kb.shortTake = 3;  // Ctrl up, Shift down, A down, then no more
  keys.BeginRecord();
  EXPECT_FALSE(keys.SendKeyTokens("A"));
  EXPECT_EQ(EncodeUtf8(kb.typed), "A");
  EXPECT_EQ(std::pair(kb.Stray(), kb.chords), std::pair(0, 0));
  kb.User(vk::kLControl, false);
  EXPECT_EQ(kb.Down(), 0);
}

}  // namespace
}  // namespace tarvik
