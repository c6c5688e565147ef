// The lock guard over logind, the screen savers and the window system's word.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_link.h"
#include "fakes/fake_wedge.h"
#include "keys/key_reach.h"

namespace tarvik {
namespace {

using testing::FakeNotice;
using testing::FakeTarget;
using testing::RecordingLog;

enum class Logind { kLocked, kUnlocked, kUnknown };
enum class Saver { kActive, kInactive, kAbsent };
// Wayland's window list (a window active, none, not offered); X's screen saver.
enum class Window { kListSome, kListNone, kNoList, kXSaverOn, kXSaverOff, kNoXSaver };
enum class Outcome { kTyped, kLocked, kNoFocus, kTypedAndTold };

class FakeSources : public ILockSources {
 public:
  std::vector<LockReading> Read() override { return ++reads, readings; }
  std::vector<LockReading> readings;
  int reads = 0;
};

struct Row {
  Logind logind;
  Saver saver;
  Window window;
  Outcome outcome;
  const char* lockedBy = "";
};

bool IsWayland(Window w) { return w == Window::kListSome || w == Window::kListNone || w == Window::kNoList; }

// The reading each source gives in each state, by the enum's order.
std::vector<LockReading> Readings(const Row& r) {
  const LockReading logind[] = {{"logind's session c7", LockWord::kLocked},
                                {"logind's session c7", LockWord::kUnlocked},
                                {"logind", LockWord::kUnknown, "no session of this user's"}};
  const LockReading saver[] = {{"org.gnome.ScreenSaver", LockWord::kLocked},
                               {"org.gnome.ScreenSaver", LockWord::kUnlocked},
                               {"the screen saver services", LockWord::kUnknown, "none"}};
  const LockReading window[] = {
      {"the window list", LockWord::kUnlocked},    {"the window list", LockWord::kUnlocked},
      {"the window list", LockWord::kUnknown, "not offered"}, {"the X screen saver", LockWord::kLocked},
      {"the X screen saver", LockWord::kUnlocked}, {"the X screen saver", LockWord::kUnknown, "none"}};
  return {logind[static_cast<int>(r.logind)], saver[static_cast<int>(r.saver)],
          window[static_cast<int>(r.window)]};
}

const Row kRows[] = {
    {Logind::kLocked, Saver::kAbsent, Window::kNoList, Outcome::kLocked, "logind's session c7"},
    {Logind::kUnlocked, Saver::kAbsent, Window::kNoList, Outcome::kTyped},
    {Logind::kUnknown, Saver::kAbsent, Window::kNoList, Outcome::kTypedAndTold},
    // A screen saver that says it is active wins over an unlocked logind.
    {Logind::kUnlocked, Saver::kActive, Window::kNoList, Outcome::kLocked, "org.gnome.ScreenSaver"},
    {Logind::kUnknown, Saver::kActive, Window::kNoList, Outcome::kLocked, "org.gnome.ScreenSaver"},
    {Logind::kUnknown, Saver::kInactive, Window::kNoList, Outcome::kTyped},
    {Logind::kLocked, Saver::kInactive, Window::kListSome, Outcome::kLocked, "logind's session c7"},
    // sway: only its window list guards.
    {Logind::kUnknown, Saver::kAbsent, Window::kListSome, Outcome::kTyped},
    {Logind::kUnknown, Saver::kAbsent, Window::kListNone, Outcome::kNoFocus},
    {Logind::kUnlocked, Saver::kAbsent, Window::kListNone, Outcome::kNoFocus},
    // X11: a keyboard grab is not asked; an unknown lock is logged, not told.
    {Logind::kUnknown, Saver::kAbsent, Window::kXSaverOn, Outcome::kLocked, "the X screen saver"},
    {Logind::kUnknown, Saver::kAbsent, Window::kXSaverOff, Outcome::kTyped},
    {Logind::kUnknown, Saver::kAbsent, Window::kNoXSaver, Outcome::kTyped},
    {Logind::kLocked, Saver::kAbsent, Window::kXSaverOff, Outcome::kLocked, "logind's session c7"},
    {Logind::kUnlocked, Saver::kActive, Window::kXSaverOff, Outcome::kLocked, "org.gnome.ScreenSaver"},
    {Logind::kUnlocked, Saver::kInactive, Window::kXSaverOff, Outcome::kTyped},
};

TEST(LockGuard, EachSourceAndItsAbsenceDecideAsTheTableSays) {
  int index = 0;
  for (const Row& row : kRows) {
    SCOPED_TRACE("row " + std::to_string(index++));
    FakeTarget inner;
    inner.target.hasForeground = row.window != Window::kListNone;
    FakeSources sources;
    sources.readings = Readings(row);
    FakeNotice notice;
    RecordingLog log;
    const LockGuardedTarget guard(inner, sources, notice, log, IsWayland(row.window));
    for (int record = 0; record < 3; ++record) {
      const KeyTarget t = guard.Query();
      const Reach reach = DecideReach(t);
      const bool locked = row.outcome == Outcome::kLocked, noFocus = row.outcome == Outcome::kNoFocus;
      EXPECT_EQ(reach.why, locked ? Unreachable::kLocked : noFocus ? Unreachable::kNoFocus : Unreachable::kNone);
      EXPECT_EQ(reach.detail, locked ? row.lockedBy : reach.detail);
    }
    EXPECT_EQ(sources.reads, 3) << "asked before every record";
    const bool unknown = DecideLock(sources.readings).state == LockState::kUnknown;
    // Told once, however many records; never where something can tell.
    EXPECT_EQ(notice.warnings, row.outcome == Outcome::kTypedAndTold
                                   ? std::vector<std::string>{kLockUnknownNotice}
                                   : std::vector<std::string>{});
    EXPECT_EQ(log.events.size(), unknown ? 1u : 0u) << log.Text();
  }
}

// Told once; the log says why each source could not, again only after one could.
TEST(LockGuard, AnUnknownLockIsToldOnceAndLoggedWithItsReasons) {
  FakeTarget inner;
  FakeSources sources;
  sources.readings = Readings({Logind::kUnknown, Saver::kAbsent, Window::kNoList, Outcome::kTypedAndTold});
  FakeNotice notice;
  RecordingLog log;
  const LockGuardedTarget guard(inner, sources, notice, log, true);
  guard.Check();
  EXPECT_EQ(notice.warnings.size(), 1u);
  ASSERT_EQ(log.events.size(), 1u);
  EXPECT_EQ(log.events[0],
            "Session lock: cannot be known (logind: no session of this user's; the screen saver "
            "services: none; the window list: not offered); scans are typed, and the user is told");
  EXPECT_TRUE(DecideReach(guard.Query()).ok());
  sources.readings.push_back({"logind's session c7", LockWord::kUnlocked});
  EXPECT_TRUE(DecideReach(guard.Query()).ok());
  sources.readings.pop_back();
  EXPECT_TRUE(DecideReach(guard.Query()).ok());
  EXPECT_EQ(notice.warnings.size(), 1u);
  EXPECT_EQ(log.events.size(), 2u);
}

}  // namespace
}  // namespace tarvik
