#include "shell/linux/end_signals_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "core/linux/dialogs_linux.h"

namespace tarvik::lnx {
namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};
int g_pipe[2] = {-1, -1};  // read end, write end

extern "C" void OnEndSignal(int number) {
  const unsigned char byte = static_cast<unsigned char>(number);
  const int saved = errno;
  [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

EndSignals::EndSignals(std::function<void(int)> onEnd) : onEnd_(std::move(onEnd)) {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // then signals end the program as usual
  notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    unsigned char byte = 0;
    while (read(g_pipe[0], &byte, 1) == 1) {
      RunOrStop("Ending on a signal", [&] {
        if (onEnd_) onEnd_(byte);
      });
    }
  });
  struct sigaction action {};
  action.sa_handler = &OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : kEndSignals) sigaction(s, &action, nullptr);
}

EndSignals::~EndSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int s : kEndSignals) sigaction(s, &action, nullptr);
  notifier_.reset();
  for (int& fd : g_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace tarvik::lnx
