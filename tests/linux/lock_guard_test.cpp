// The lock guard over the sources a Linux desktop has: logind, the screen
// saver services, and the window system's own word (the compositor's window
// list on Wayland, the X screen saver on X11), each known or not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_link.h"
#include "fakes/fake_wedge.h"
#include "wedge/key_reach.h"

namespace tarvik {
namespace {

using testing::FakeNotice;
using testing::FakeTarget;
using testing::RecordingLog;

enum class Logind { kLocked, kUnlocked, kUnknown };
enum class Saver { kActive, kInactive, kAbsent };
// Wayland: the window list with a window activated, with none, or not
// offered. X11: the X screen saver on, off, or no extension.
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
  const LockReading window[] = {{"the window list", LockWord::kUnlocked},
                                {"the window list", LockWord::kUnlocked},
                                {"the window list", LockWord::kUnknown, "not offered"},
                                {"the X screen saver", LockWord::kLocked},
                                {"the X screen saver", LockWord::kUnlocked},
                                {"the X screen saver", LockWord::kUnknown, "none"}};
  return {logind[static_cast<int>(r.logind)], saver[static_cast<int>(r.saver)],
          window[static_cast<int>(r.window)]};
}

const Row kRows[] = {
    // Wayland: logind alone decides where nothing else is known.
    {Logind::kLocked, Saver::kAbsent, Window::kNoList, Outcome::kLocked, "logind's session c7"},
    {Logind::kUnlocked, Saver::kAbsent, Window::kNoList, Outcome::kTyped},
    {Logind::kUnknown, Saver::kAbsent, Window::kNoList, Outcome::kTypedAndTold},
    // A screen saver that says it is active wins over an unlocked logind.
    {Logind::kUnlocked, Saver::kActive, Window::kNoList, Outcome::kLocked, "org.gnome.ScreenSaver"},
    {Logind::kUnknown, Saver::kActive, Window::kNoList, Outcome::kLocked, "org.gnome.ScreenSaver"},
    {Logind::kUnknown, Saver::kInactive, Window::kNoList, Outcome::kTyped},
    {Logind::kLocked, Saver::kInactive, Window::kListSome, Outcome::kLocked, "logind's session c7"},
    // sway: no logind session, no screen saver, but its window list guards.
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
      switch (row.outcome) {
        case Outcome::kTyped:
        case Outcome::kTypedAndTold: EXPECT_TRUE(reach.ok()); break;
        case Outcome::kLocked:
          EXPECT_EQ(reach.why, Unreachable::kLocked);
          EXPECT_EQ(reach.detail, row.lockedBy);
          break;
        case Outcome::kNoFocus: EXPECT_EQ(reach.why, Unreachable::kNoFocus); break;
      }
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

// Told at the start where nothing can tell, and not again at the scans; the
// log says why each source could not, and says it again only after a source
// could tell in between.
TEST(LockGuard, AnUnknownLockIsToldOnceAndLoggedWithItsReasonsALockWithItsSource) {
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
  // A reason for the user that says what happened; the log keeps who saw the lock.
  KeyTarget t;
  t.inputDesktopIsOurs = false;
  t.lockedBy = "org.xfce.ScreenSaver";
  const Reach reach = DecideReach(t);
  EXPECT_EQ(reach.detail, "org.xfce.ScreenSaver");
  EXPECT_EQ(UnreachableMessage(reach),
            "A scan was not typed: the computer is locked or a secure screen is open.");
}

}  // namespace
}  // namespace tarvik
