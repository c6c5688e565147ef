// The wlroots window list when its desktop fails it: a connection the desktop
// closes, or one it never answers on, is no foreground, not "a window is in
// front"; the log says why once however often it is asked, and every query
// tries a new connection (here to a socket that is not there) without waiting
// on the dead one. The desktop is one end of a socket pair, handed to
// libwayland through WAYLAND_SOCKET as a compositor hands it to a child.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "wedge/linux/wayland_target_linux.h"

namespace tarvik::lnx {
namespace {

constexpr int kWaitMs = 200;
// A query that finds the desktop gone returns at once, not after kWaitMs.
constexpr auto kQuick = std::chrono::milliseconds(kWaitMs);

struct Lines : IDiagnostics {
  void Event(std::string_view text) override { all += std::string(text) + "\n"; }
  std::string all;
};

TEST(WaylandTarget, ADesktopThatClosesOrNeverAnswersIsNoForegroundSaidOnce) {
  struct Case {
    const char* desktop;
    bool closes;
    const char* why;
  };
  const Case cases[] = {
      {"closes the connection", true, "the connection to the desktop failed ("},
      {"never answers", false, "the desktop did not answer within 200 ms"},
  };
  char dir[] = "/tmp/tarvik-wayland-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  setenv("XDG_RUNTIME_DIR", dir, 1);
  setenv("WAYLAND_DISPLAY", "wayland-gone", 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desktop);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const int desktop = ends[0];
    // libwayland takes the descriptor and unsets the variable: later
    // connections go to the named socket, which is not there.
    setenv("WAYLAND_SOCKET", std::to_string(ends[1]).c_str(), 1);
    if (c.closes) close(desktop);
    Lines log;
    const WlrootsKeyTarget target(log, kWaitMs);
    for (int i = 0; i < 3; ++i) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_FALSE(target.Query().hasForeground) << i;
      EXPECT_LT(std::chrono::steady_clock::now() - start, kQuick) << i;
    }
    EXPECT_TRUE(target.Lists()) << "a list that is down still guards the focus";
    EXPECT_EQ(log.all.rfind(std::string("The desktop's list of windows failed (") + c.why, 0), 0u)
        << log.all;
    EXPECT_EQ(std::count(log.all.begin(), log.all.end(), '\n'), 1) << log.all;
    if (!c.closes) close(desktop);
  }
  unsetenv("WAYLAND_SOCKET");
  unsetenv("WAYLAND_DISPLAY");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik::lnx
