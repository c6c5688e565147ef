// Says which window the compositor has activated, as the program's typing
// asks it: the end-to-end test's check of the focused window on Wayland.
//   tarvik_wayland_target --target   prints app_id and title, or "none"
#include <cstdio>
#include <string_view>

#include "wedge/linux/wayland_target_linux.h"

namespace {

class StderrLog : public tarvik::IDiagnostics {
 public:
  void Event(std::string_view text) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
};

}  // namespace

int main(int argc, char** argv) {
  StderrLog log;
  if (argc == 2 && std::string_view(argv[1]) == "--target") {
    const tarvik::lnx::WlrootsKeyTarget target(log);
    const tarvik::KeyTarget t = target.Query();
    if (!t.hasForeground)
      std::printf("none\n");
    else
      std::printf("app_id=%s title=%s\n", t.program.c_str(), t.title.c_str());
    return target.Lists() ? 0 : 1;
  }
  std::fprintf(stderr, "usage: tarvik_wayland_target --target\n");
  return 2;
}
