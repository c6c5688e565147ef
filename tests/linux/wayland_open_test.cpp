// Without a Wayland display: the virtual keyboard says why it cannot type,
// and the focus is taken to be somewhere, with the log told once that the
// window sections of the rules cannot match.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "wedge/linux/virtual_keyboard_linux.h"
#include "wedge/linux/wayland_target_linux.h"

namespace tarvik::lnx {
namespace {

class Lines : public IDiagnostics {
 public:
  void Event(std::string_view text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

// Unsets WAYLAND_DISPLAY for one test and puts it back.
class NoWaylandDisplay {
 public:
  NoWaylandDisplay() {
    if (const char* v = getenv("WAYLAND_DISPLAY")) saved_ = v;
    unsetenv("WAYLAND_DISPLAY");
  }
  ~NoWaylandDisplay() {
    if (!saved_.empty()) setenv("WAYLAND_DISPLAY", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
};

TEST(WaylandOpen, WithoutADisplayTheKeyboardSaysWhy) {
  NoWaylandDisplay none;
  std::string problem;
  EXPECT_EQ(VirtualKeyboardSender::Open(problem), nullptr);
  EXPECT_EQ(problem, "no Wayland display is set");
}

TEST(WaylandOpen, WithoutTheWindowListTheFocusCountsAsSomewhereAndTheLogIsToldOnce) {
  NoWaylandDisplay none;
  Lines log;
  const WlrootsKeyTarget target(log);
  for (int i = 0; i < 3; ++i) {
    const KeyTarget t = target.Query();
    EXPECT_TRUE(t.hasForeground);
    EXPECT_EQ(t.program + t.processName + t.title, "");
  }
  EXPECT_FALSE(target.Lists());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("The desktop does not tell which application has the focus: the "
                               "rules' [app] and [title] sections never match", 0),
            0u)
      << log.lines[0];
}

}  // namespace
}  // namespace tarvik::lnx
