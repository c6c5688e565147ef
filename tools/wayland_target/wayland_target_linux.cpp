// Says which window the compositor has activated, as the program's typing
// asks it: the end-to-end test's check of the focused window on Wayland.
//   tarvik_wayland_target --target   prints app_id and title, or "none"
//   tarvik_wayland_target --watch    the same for every line read on stdin,
//                                    one target kept all along under a Qt
//                                    event loop, as the program keeps it; the
//                                    log's lines go to stderr as they come
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string_view>
#include <unistd.h>

#include "keys/linux/wayland_target_linux.h"

namespace {

class StderrLog : public tarvik::IDiagnostics {
 public:
  void Event(std::string_view text) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
  }
};

void Print(const tarvik::lnx::WlrootsKeyTarget& target) {
  const tarvik::KeyTarget t = target.Query();
  if (!t.hasForeground)
    std::printf("none\n");
  else
    std::printf("app_id=%s title=%s\n", t.program.c_str(), t.title.c_str());
  std::fflush(stdout);
}

int Watch(int argc, char** argv, StderrLog& log) {
  QCoreApplication app(argc, argv);
  const tarvik::lnx::WlrootsKeyTarget target(log);
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buf[256];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      app.quit();
      return;
    }
    for (ssize_t i = 0; i < n; ++i)
      if (buf[i] == '\n') Print(target);
  });
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  StderrLog log;
  if (argc == 2 && std::string_view(argv[1]) == "--target") {
    const tarvik::lnx::WlrootsKeyTarget target(log);
    Print(target);
    return target.Lists() ? 0 : 1;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--watch") return Watch(argc, argv, log);
  std::fprintf(stderr, "usage: tarvik_wayland_target --target | --watch\n");
  return 2;
}
