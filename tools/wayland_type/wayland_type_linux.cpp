// Types key tokens through the Wayland virtual keyboard the way the program
// types a record, and says which window the compositor has activated: the
// end-to-end test's way to reach the typing with no window to hide.
//   tarvik_wayland_type --target   prints app_id and title, or "none"
//   tarvik_wayland_type            opens the keyboard, prints "ready", then
//                                  types each line of its input as a record
//                                  (tokens apart by tabs) and prints "typed"
// A seat with no keyboard (a headless compositor) gains one with ours, and
// its windows see keys only once they have taken it: the caller waits for
// that between "ready" and the first line.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "wedge/linux/virtual_keyboard_linux.h"
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
  std::string problem;
  auto keys = tarvik::lnx::VirtualKeyboardSender::Open(problem, log);
  if (!keys) {
    std::fprintf(stderr, "Opening the virtual keyboard failed: %s\n", problem.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    std::vector<std::string> tokens;
    std::istringstream fields(line);
    for (std::string token; std::getline(fields, token, '\t');)
      if (!token.empty()) tokens.push_back(token);
    for (std::size_t i = 0; i < tokens.size(); ++i)
      if (!keys->CanType(tokens[i])) {
        std::fprintf(stderr, "Cannot type token %zu\n", i + 1);
        return 1;
      }
    keys->BeginRecord();
    for (std::size_t i = 0; i < tokens.size(); ++i)
      if (!keys->SendKeyTokens(tokens[i])) {
        std::fprintf(stderr, "The compositor refused token %zu\n", i + 1);
        return 1;
      }
    keys->EndRecord();
    std::printf("typed\n");
    std::fflush(stdout);
  }
  return 0;
}
