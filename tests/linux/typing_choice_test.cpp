// The way of typing a session gets: never XTest on Wayland, where it reaches
// only Xwayland's windows; a forced way alone; a clear reason for none.
#include <gtest/gtest.h>

#include "wedge/linux/key_sender_linux.h"

namespace tarvik::lnx {
namespace {

using W = TypingWay;

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

}  // namespace
}  // namespace tarvik::lnx
