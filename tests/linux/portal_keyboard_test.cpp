// The portal's keyboard: keys planned with the desktop's layout go out as
// evdev numbers in order, nothing stays down, the layout is never changed,
// and the restore token's file is replaced whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "linux/fake_xkeyboard.h"
#include "wedge/linux/portal_keyboard_linux.h"

namespace tarvik::lnx {
namespace {

using testing::FakeXKeyboard;
using testing::UsKeymap;

// The session: each key as the compositor gets it; refuses from key `refuseAt` on.
struct RecordedKeys : IRemoteKeys {
  bool NotifyKey(int code, bool down) override {
    if (refuseAt >= 0 && static_cast<int>(keys.size()) >= refuseAt) return false;
    keys.emplace_back(code, down);
    return true;
  }
  std::vector<std::pair<int, bool>> keys;
  int refuseAt = -1;
};

// The evdev number of A. A whole line's keys, in order with Shift around a
// capital, are checked end to end through a mock portal (e2e_linux_portal).
constexpr int kKeyA = 30;

// The desktop's layout is not ours to change: a character it lacks is not
// typeable (the record is then not typed at all), though X would have spare keycodes.
TEST(PortalKeyboard, ACharacterTheLayoutLacksIsNotTypeableAndTheLayoutIsLeftAlone) {
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
}

TEST(PortalKeyboard, AKeyTheDesktopRefusesStopsTheRecord) {
  FakeXKeyboard layout(UsKeymap());
  RecordedKeys remote;
  remote.refuseAt = 1;
  PortalKeyboard keyboard(layout, remote);
  XKeyInjector injector(keyboard);
  EXPECT_FALSE(injector.SendKeyTokens("a"));
  EXPECT_EQ(remote.keys, (std::vector<std::pair<int, bool>>{{kKeyA, true}}));  // X keycode less 8
}

class TokenFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/tarvik-token-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string folder_;
};

TEST_F(TokenFile, EachTokenReplacesTheLastAndNoneRemovesIt) {
  // The state folder may not exist yet: it is made.
  const RestoreTokenFile file(folder_ + "/state/tarvik/portal-restore-token");
  std::string why;
  EXPECT_EQ(file.Read(), "");
  for (const std::string token : {"first-token", "second", ""}) {
    ASSERT_TRUE(file.Write(token, why)) << why;
    EXPECT_EQ(file.Read(), token);
    const auto folder = std::filesystem::path(file.Path()).parent_path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), token.empty() ? 0 : 1);
    if (!token.empty()) {  // the owner's alone
      EXPECT_EQ(std::filesystem::status(file.Path()).permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(file.Path()));
  EXPECT_TRUE(file.Write("", why)) << "removing a file that is not there";
}

TEST_F(TokenFile, AFolderThatCannotBeMadeIsToldNotThrown) {
  const std::string blocker = folder_ + "/blocker";
  // A file where the folder should be.
  std::FILE* f = std::fopen(blocker.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const RestoreTokenFile file(blocker + "/portal-restore-token");
  std::string why;
  EXPECT_FALSE(file.Write("token", why));
  EXPECT_NE(why.find(blocker), std::string::npos) << why;
}

}  // namespace
}  // namespace tarvik::lnx
