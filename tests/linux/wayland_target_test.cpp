// The wlroots window list when its desktop (one end of a socket pair, given
// through WAYLAND_SOCKET) closes or never answers: no foreground, said once,
// and each query tries a new connection at once rather than wait.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>

#include "keys/linux/wayland_target_linux.h"

namespace tarvik::lnx {
namespace {

constexpr int kWaitMs = 200;
constexpr auto kQuick = std::chrono::milliseconds(kWaitMs);

struct Lines : IDiagnostics {
  void Event(std::string_view text) override { all += std::string(text) + "\n"; }
  std::string all;
};

TEST(WaylandTarget, ADesktopThatClosesOrNeverAnswersIsNoForegroundSaidOnce) {
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"closes the connection", true, "the connection to the desktop failed ("},
      {"never answers", false, "the desktop did not answer within 200 ms"},
  };
  char dir[] = "/tmp/tarvik-wayland-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  setenv("XDG_RUNTIME_DIR", dir, 1);
  setenv("WAYLAND_DISPLAY", "wayland-gone", 1);
  for (const auto& [name, closes, why] : cases) {
    SCOPED_TRACE(name);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const int desktop = ends[0];
    // libwayland takes the descriptor and unsets the variable: later
    // connections go to the named socket, which is not there.
    setenv("WAYLAND_SOCKET", std::to_string(ends[1]).c_str(), 1);
    if (closes) close(desktop);
    Lines log;
    const WlrootsKeyTarget target(log, kWaitMs);
    for (int i = 0; i < 3; ++i) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_FALSE(target.Query().hasForeground) << i;
      EXPECT_LT(std::chrono::steady_clock::now() - start, kQuick) << i;
    }
    EXPECT_TRUE(target.Lists()) << "a list that is down still guards the focus";
    EXPECT_EQ(log.all.rfind(std::string("The desktop's list of windows failed (") + why, 0), 0u)
        << log.all;
    EXPECT_EQ(std::count(log.all.begin(), log.all.end(), '\n'), 1) << log.all;
    if (!closes) close(desktop);
  }
  unsetenv("WAYLAND_SOCKET");
  unsetenv("WAYLAND_DISPLAY");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik::lnx
