// The portal's keyboard: keys planned with the desktop's layout go out as
// evdev numbers in order, paced as the desktop needs, layout never changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include "linux/fake_xkeyboard.h"
#include "keys/linux/gnome_layout_linux.h"
#include "keys/linux/portal_keyboard_linux.h"

namespace tarvik::lnx {
namespace {

using testing::FakeXKeyboard;
using testing::UsKeymap;

// Each key as the compositor gets it; refuses from key `refuseAt` on.
struct RecordedKeys : IRemoteKeys {
  bool NotifyKey(int code, bool down) override {
    if (refuseAt >= 0 && static_cast<int>(keys.size()) >= refuseAt) return false;
    keys.emplace_back(code, down);
    return true;
  }
  std::vector<std::pair<int, int>> keys;  // (evdev number, down) or (kPause, ms)
  int refuseAt = -1;
};

constexpr int kKeyA = 30, kShiftL = 42;  // evdev numbers
constexpr int kPause = -1;                // (kPause, ms): a pause, in the list of keys

struct RecordedWait : IPortalWait {
  explicit RecordedWait(RecordedKeys& keys) : keys_(keys) {}
  void WaitMs(int ms) override { keys_.keys.emplace_back(kPause, ms); }
  RecordedKeys& keys_;
};

TEST(PortalPacing, GnomeIsToldByItsNameInXdgCurrentDesktop) {
  for (auto name : {"GNOME", "ubuntu:GNOME", "GNOME-Classic:GNOME", "gnome"})
    EXPECT_EQ(PortalDesktopNamed(name), PortalDesktop::kGnome) << name;
  for (auto name : {"KDE", "GNOME-Flashback", "sway", ""})
    EXPECT_EQ(PortalDesktopNamed(name), PortalDesktop::kOther) << name;
}

// mutter applies a modifier late when a key follows or precedes it at once.
TEST(PortalPacing, OnGnomeEachModifierChangeHasAPauseBeforeAndAfter) {
  using Role = XKeyAction::Role;
  const int gap = PortalGapsFor(PortalDesktop::kGnome, {50, true, Role::Modifier}).afterMs;
  EXPECT_GE(gap, 5);  // 1 to 2 ms was measured too little
  EXPECT_LE(gap, 20);
  const PortalGaps none{}, around{gap, gap};
  const std::tuple<Role, bool, PortalGaps> cases[] = {
      {Role::Modifier, true, around},    {Role::Modifier, false, around},
      {Role::UserRelease, false, around}, {Role::UserRestore, true, around},
      {Role::Key, true, none},           {Role::Key, false, none},
      {Role::Mask, true, none},          {Role::Mask, false, none}};
  for (auto [role, down, gaps] : cases) {
    const XKeyAction event{50, down, role};
    EXPECT_EQ(PortalGapsFor(PortalDesktop::kGnome, event), gaps) << static_cast<int>(role) << down;
    EXPECT_EQ(PortalGapsFor(PortalDesktop::kOther, event), none) << static_cast<int>(role) << down;
  }
}

// Elsewhere the same keys go back to back.
TEST(PortalPacing, TheCapitalWaitsForItsShiftAndTheNextKeyForItsRelease) {
  FakeXKeyboard layout(UsKeymap());
  const int gap = PortalGapsFor(PortalDesktop::kGnome, {50, true, XKeyAction::Role::Modifier}).afterMs;
  const std::pair<PortalDesktop, std::vector<std::pair<int, int>>> cases[] = {
      {PortalDesktop::kGnome, {{kPause, gap}, {kShiftL, true}, {kPause, gap}, {kKeyA, true}, {kKeyA, false},
                               {kPause, gap}, {kShiftL, false}, {kPause, gap}, {kKeyA, true}, {kKeyA, false}}},
      {PortalDesktop::kOther, {{kShiftL, true}, {kKeyA, true}, {kKeyA, false}, {kShiftL, false}, {kKeyA, true},
                               {kKeyA, false}}}};
  for (const auto& [desktop, keys] : cases) {
    RecordedKeys remote;
    RecordedWait wait(remote);
    PortalKeyboard keyboard(layout, remote, desktop, &wait);
    XKeyInjector injector(keyboard);
    injector.BeginRecord();
    for (const char* token : {"A", "a"}) ASSERT_TRUE(injector.SendKeyTokens(token));
    injector.EndRecord();
    EXPECT_EQ(remote.keys, keys) << static_cast<int>(desktop);
  }
}

// Xwayland as X programs see it: a key shows on the `lag`th question after
// it went to the compositor (never: -1); the focus can move to Wayland.
struct LaggingXwayland : IXwaylandEcho {
  LaggingXwayland(RecordedKeys& sent, bool focus, int keyLag) : sent_(sent), xFocus(focus), lag(keyLag) {}
  bool XWindowFocused() override { return xFocus; }
  std::optional<Key> KeyState(Keycode code) override {
    bool down = false;  // as last sent
    for (const auto& [key, pressed] : sent_.keys)
      if (key == code - kXKeycodeOffset) down = pressed;
    if (lag < 0 || ++asked < lag) return Key{!down, 0};
    asked = 0;
    return Key{down, static_cast<std::uint8_t>(down && code == kShiftL + kXKeycodeOffset ? xmod::kShift : 0)};
  }
  RecordedKeys& sent_;
  bool xFocus;
  int lag, asked = 0;
};

// While an X window has the focus, the key after a Shift change goes only
// once Xwayland shows the change; no echo in time is a refusal, unless the
// focus went to a Wayland window meanwhile. The Shift is never left down.
TEST(PortalPacing, OnGnomeTheKeyAfterAShiftChangeWaitsForXwaylandToShowIt) {
  const int limit = kEchoLimitMs / kEchoPollMs;
  // X focus, lag, focus leaves, typed, polls of kEchoPollMs among the keys sent
  const std::tuple<bool, int, bool, bool, int> cases[] = {
      {true, 3, false, true, 2 * 2},       // press and release each shown after two polls
      {false, 3, false, true, 0},          // a Wayland window: the pauses alone
      {true, -1, false, false, limit},     // never shown: the capital is not typed
      {true, -1, true, true, limit}};      // never shown, but the focus went to Wayland
  for (auto [xFocus, lag, focusLeaves, typed, polls] : cases) {
    FakeXKeyboard layout(UsKeymap());
    RecordedKeys remote;
    RecordedWait wait(remote);
    LaggingXwayland xwayland(remote, xFocus, lag);
    PortalKeyboard gnome(layout, remote, PortalDesktop::kGnome, &wait, &xwayland);
    XKeyInjector injector(gnome);
    gnome.BeginRecord();
    injector.BeginRecord();
    xwayland.xFocus = xFocus && !focusLeaves;
    EXPECT_EQ(injector.SendKeyTokens("A"), typed) << lag << focusLeaves;
    injector.EndRecord();
    const auto count = [&](std::pair<int, int> key) { return std::count(remote.keys.begin(), remote.keys.end(), key); };
    EXPECT_EQ(count({kKeyA, true}), typed ? 1 : 0);
    EXPECT_EQ(count({kPause, kEchoPollMs}), polls) << lag << focusLeaves;
    EXPECT_EQ(count({kShiftL, true}), count({kShiftL, false}));
  }
}

TEST(GnomeLayout, TheSourceInUseIsTheFirstRecentOneStillConfigured) {
  const auto sources = ParseInputSources("[('xkb', 'us'), ('xkb', 'de+nodeadkeys'), ('ibus', 'anthy')]");
  const std::vector<std::string> options = ParseStrings("['compose:ralt', 'caps:none']");
  const std::pair<const char*, std::optional<XkbNames>> cases[] = {
      {"@a(ss) []", XkbNames{"us", "", "compose:ralt,caps:none"}},
      {"[('xkb', 'de+nodeadkeys'), ('xkb', 'us')]", XkbNames{"de", "nodeadkeys", "compose:ralt,caps:none"}},
      {"[('xkb', 'fr'), ('xkb', 'us')]", XkbNames{"us", "", "compose:ralt,caps:none"}},  // fr was removed
      {"[('ibus', 'anthy')]", std::nullopt},  // an input method: its layout is not told here
  };
  for (const auto& [mru, names] : cases) EXPECT_EQ(CurrentXkbSource(sources, ParseInputSources(mru), options), names) << mru;
  EXPECT_EQ(CurrentXkbSource({}, {}, {}), std::nullopt);
  EXPECT_EQ(ParseStrings("@as []"), std::vector<std::string>{});
}

// de in use, whatever Xwayland still holds (us): @ is AltGr+Q, Z and Y swap.
TEST(GnomeLayout, KeysArePlannedWithTheCompiledSourceInUse) {
  XKeymap de;
  std::string why;
  ASSERT_TRUE(CompileXkbKeymap({"de", "", ""}, de, why)) << why;
  FakeXKeyboard xwayland(UsKeymap());
  RecordedKeys remote;
  PortalKeyboard keyboard(xwayland, remote);
  keyboard.UseKeymap(de);
  XKeyInjector injector(keyboard);
  EXPECT_TRUE(injector.CanType("\u20AC"));
  injector.BeginRecord();
  for (const char* token : {"@", "z", "Y"}) ASSERT_TRUE(injector.SendKeyTokens(token));
  injector.EndRecord();
  constexpr int kRightAlt = 100, kQ = 16, kY = 21, kZ = 44;
  EXPECT_EQ(remote.keys, (std::vector<std::pair<int, int>>{
                             {kRightAlt, true}, {kQ, true}, {kQ, false}, {kRightAlt, false},
                             {kY, true}, {kY, false},  // z
                             {kShiftL, true}, {kZ, true}, {kZ, false}, {kShiftL, false}}));
  EXPECT_FALSE(CompileXkbKeymap({"no-such-layout", "", ""}, de, why));
  EXPECT_NE(why.find("no-such-layout"), std::string::npos) << why;
}

// Caps Lock from the keyboards' lights where there are some, else Xwayland's.
TEST(GnomeLayout, CapsLockIsLitOnAnyKeyboardOrUnknownWithoutALight) {
  using Lights = std::vector<std::pair<const char*, const char*>>;
  const std::pair<Lights, std::optional<bool>> cases[] = {
      {{}, std::nullopt},
      {{{"input3::numlock", "1\n"}}, std::nullopt},
      {{{"input3::capslock", "0\n"}}, false},
      {{{"input3::capslock", "0\n"}, {"input9::capslock", "1\n"}}, true},
  };
  for (const auto& [lights, lit] : cases) {
    char name[] = "/tmp/tarvik-leds-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    for (const auto& [light, value] : lights) {
      std::filesystem::create_directory(std::string(name) + "/" + light);
      std::ofstream(std::string(name) + "/" + light + "/brightness") << value;
    }
    EXPECT_EQ(CapsLockLit(name), lit) << lights.size();
    std::filesystem::remove_all(name);
  }
  FakeXKeyboard xwayland(UsKeymap());
  RecordedKeys remote;
  PortalKeyboard keyboard(xwayland, remote);
  for (auto [caps, locked] : {std::pair{std::optional<bool>(true), xmod::kLock},
                              std::pair{std::optional<bool>(false), std::uint8_t{0}}}) {
    keyboard.UseCapsLock(caps);
    EXPECT_EQ(keyboard.State().locked & xmod::kLock, locked);
  }
}

// A character the layout lacks is not typeable, though X has spare keycodes.
TEST(PortalKeyboard, ACharacterTheLayoutLacksIsNotTypeableAndARefusedKeyStopsTheRecord) {
  FakeXKeyboard layout(UsKeymap());
  ASSERT_FALSE(layout.Map().spare.empty());
  RecordedKeys remote;
  PortalKeyboard keyboard(layout, remote);
  XKeyInjector injector(keyboard);
  EXPECT_TRUE(injector.CanType("a"));
  EXPECT_FALSE(injector.CanType("\u00E9"));
  injector.BeginRecord();
  injector.SendKeyTokens("\u00E9");
  injector.EndRecord();
  EXPECT_TRUE(remote.keys.empty());
  EXPECT_EQ(layout.remaps, 0);
  remote.refuseAt = 1;
  EXPECT_FALSE(injector.SendKeyTokens("a"));
  EXPECT_EQ(remote.keys, (std::vector<std::pair<int, int>>{{kKeyA, true}}));  // X keycode less 8
}

TEST(TokenFile, EachTokenReplacesTheLastAndNoneRemovesIt) {
  char name[] = "/tmp/tarvik-token-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const std::string folder = name;
  const RestoreTokenFile file(folder + "/state/tarvik/portal-restore-token");
  std::string why;
  EXPECT_EQ(file.Read(), "");
  for (const std::string token : {"first-token", "second", ""}) {
    ASSERT_TRUE(file.Write(token, why)) << why;
    EXPECT_EQ(file.Read(), token);
    const auto dir = std::filesystem::path(file.Path()).parent_path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), token.empty() ? 0 : 1);
    if (!token.empty()) {  // the owner's alone
      EXPECT_EQ(std::filesystem::status(file.Path()).permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(file.Path()));
  EXPECT_TRUE(file.Write("", why)) << "removing a file that is not there";
  const std::string blocker = folder + "/blocker";  // a file where the folder should be
  ASSERT_TRUE(std::ofstream(blocker));
  const RestoreTokenFile blocked(blocker + "/portal-restore-token");
  EXPECT_FALSE(blocked.Write("token", why));
  EXPECT_NE(why.find(blocker), std::string::npos) << why;
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarvik::lnx
