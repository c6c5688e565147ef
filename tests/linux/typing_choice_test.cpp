// The way of typing a session gets: never XTest on Wayland, where it reaches
// only Xwayland's windows; a forced way alone; a clear reason for none. And
// without a Wayland compositor's window list, the focus counts as somewhere.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "keys/linux/key_sender_linux.h"
#include "keys/linux/wayland_target_linux.h"

namespace tarvik::lnx {
namespace {

using W = TypingWay;

struct Lines : IDiagnostics {
  void Event(std::string_view text) override { all += std::string(text) + "\n"; }
  std::string all;
};

TEST(TypingChoice, FollowsTheSession) {
  struct Case {
    Session session;
    std::vector<TypingWay> ways;
    bool problem;
  };
  const Case cases[] = {
      {{"x11", "", ":0", ""}, {W::kXTest}, false},
      {{"", "", ":1", ""}, {W::kXTest}, false},
      // GNOME, KDE and sway set DISPLAY for Xwayland too.
      {{"wayland", "wayland-0", ":0", ""}, {W::kVirtualKeyboard, W::kPortal}, false},
      {{"tty", "wayland-1", ":0", ""}, {W::kVirtualKeyboard, W::kPortal}, false},
      {{"", "wayland-1", "", ""}, {W::kVirtualKeyboard, W::kPortal}, false},
      // A nested compositor's socket does not make an X11 session a Wayland one.
      {{"x11", "wayland-1", ":0", ""}, {W::kXTest}, false},
      {{"wayland", "wayland-0", ":0", "xtest"}, {W::kXTest}, false},
      {{"x11", "", ":0", "portal"}, {W::kPortal}, false},
      {{"x11", "", ":0", "uinput"}, {}, true},
      {{"", "", "", ""}, {}, true},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_EQ(TypingWays(c.session, problem), c.ways) << c.session.type << " " << c.session.forced;
    EXPECT_EQ(!problem.empty(), c.problem) << problem;
  }
}

// A way that does not open hands over to the next one; the log says which
// way types and why each other one did not; with none, one sentence says why.
TEST(TypingChoice, FallsThroughToTheNextWayAndSaysWhy) {
  struct Keys : IKeySender {
    bool SendKeyTokens(std::string_view) override { return true; }
  };
  struct Case {
    Session session;
    bool portal;  // the desktop portal opens
    std::string log;
    std::string problem;
  };
  const std::string noVk = "Typing through the compositor's virtual keyboard on wayland-9 is not possible: "
                           "no Wayland display is set\n";
  const Case cases[] = {
      {{"wayland", "wayland-9", "", ""}, true,
       noVk + "Keys are typed through the desktop portal's remote keyboard (a Wayland session)\n", ""},
      {{"wayland", "wayland-9", "", ""}, false,
       noVk + "Typing through the desktop portal's remote keyboard is not possible: refused\n"
              "Keys cannot be typed here: no Wayland display is set, and refused.\n",
       "Keys cannot be typed here: no Wayland display is set, and refused."},
      {{"x11", "", ":0", "portal"}, true,
       "Keys are typed through the desktop portal's remote keyboard (TARVIK_TYPING=portal)\n", ""},
      {{}, true, "Keys cannot be typed here: neither a Wayland nor an X display is set.\n",
       "Keys cannot be typed here: neither a Wayland nor an X display is set."},
  };
  unsetenv("WAYLAND_DISPLAY");  // the virtual keyboard finds its compositor there
  for (const auto& c : cases) {
    Lines log;
    std::string problem;
    const auto keys = MakeKeySender(c.session, problem, log, [&](std::string& why) -> std::unique_ptr<IKeySender> {
      if (c.portal) return std::make_unique<Keys>();
      return why = "refused", nullptr;
    });
    EXPECT_EQ(keys != nullptr, problem.empty()) << problem;
    EXPECT_EQ(problem, c.problem);
    EXPECT_EQ(log.all, c.log);
  }
}

// The window list is the compositor's (wlroots); the log is told once that
// the rules' window sections cannot match.
TEST(TypingChoice, WithoutTheWindowListTheFocusCountsAsSomewhereAndTheLogIsToldOnce) {
  unsetenv("WAYLAND_DISPLAY");
  Lines log;
  const WlrootsKeyTarget target(log);
  for (int i = 0; i < 3; ++i) {
    const KeyTarget t = target.Query();
    EXPECT_TRUE(t.hasForeground);
    EXPECT_EQ(t.program + t.processName + t.title, "");
  }
  EXPECT_FALSE(target.Lists());
  EXPECT_EQ(log.all.rfind("The desktop does not tell which application has the focus: the rules' [app] and "
                          "[title] sections never match", 0), 0u) << log.all;
  EXPECT_EQ(std::count(log.all.begin(), log.all.end(), '\n'), 1);
}

}  // namespace
}  // namespace tarvik::lnx
