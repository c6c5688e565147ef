// A client connection to the Wayland desktop, and its objects, each owned
// and released with the call the protocol gives for it.
#pragma once
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace tarvik::lnx {

template <auto Destroy>
struct WlDestroy {
  template <class T>
  void operator()(T* p) const {
    if (p) Destroy(p);
  }
};
template <class T, auto Destroy>
using WlPtr = std::unique_ptr<T, WlDestroy<Destroy>>;

using WlDisplayPtr = WlPtr<wl_display, wl_display_disconnect>;
using WlRegistryPtr = WlPtr<wl_registry, wl_registry_destroy>;
using WlSeatPtr = WlPtr<wl_seat, wl_seat_destroy>;

// The display named by $WAYLAND_DISPLAY; nothing, and `problem` says why,
// when none is set or it cannot be reached.
inline WlDisplayPtr ConnectWayland(std::string& problem) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) {
    problem = "no Wayland display is set";
    return nullptr;
  }
  WlDisplayPtr d(wl_display_connect(nullptr));
  if (!d) problem = std::string("the Wayland display \"") + name + "\" cannot be reached (" +
                    std::strerror(errno) + ")";
  return d;
}

// Why the connection failed, once wl_display_get_error says it has.
inline std::string WaylandFailure(wl_display* d) {
  const int err = wl_display_get_error(d);
  if (err == EPROTO) {
    const wl_interface* iface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t code = wl_display_get_protocol_error(d, &iface, &id);
    return std::string("the desktop ended the connection: error ") + std::to_string(code) +
           " on " + (iface ? iface->name : "an object");
  }
  return std::string("the connection to the desktop failed (") + std::strerror(err) + ")";
}

// How long a desktop may take to answer before it counts as gone: a hung
// compositor must not hold the program up with it.
inline constexpr int kWaylandAnswerWaitMs = 3000;

// wl_display_roundtrip with a limit: every event the desktop sent before
// answering is read and dispatched. False, and `problem` says why, when the
// connection failed or the desktop did not answer in time.
inline bool WaylandRoundtrip(wl_display* d, std::string& problem,
                             int waitMs = kWaylandAnswerWaitMs) {
  struct Answer {
    bool done = false;
    static void Done(void* data, wl_callback*, std::uint32_t) { static_cast<Answer*>(data)->done = true; }
  } answer;
  static constexpr wl_callback_listener kListener{Answer::Done};
  using CallbackPtr = WlPtr<wl_callback, wl_callback_destroy>;
  const CallbackPtr sync(wl_display_sync(d));
  if (!sync) return problem = WaylandFailure(d), false;
  wl_callback_add_listener(sync.get(), &kListener, &answer);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (!answer.done) {
    if (wl_display_prepare_read(d) != 0) {  // events already queued: dispatch them first
      if (wl_display_dispatch_pending(d) < 0) return problem = WaylandFailure(d), false;
      continue;
    }
    // A closed socket (EPIPE) is not the end yet: what the desktop sent
    // before, a protocol error among it, is read first, and tells why.
    const bool unsent = wl_display_flush(d) < 0;
    const int flushError = errno;
    if (unsent && flushError != EAGAIN && flushError != EPIPE) {
      wl_display_cancel_read(d);
      problem = std::string("sending to the desktop failed (") + std::strerror(flushError) + ")";
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    const bool full = unsent && flushError == EAGAIN;
    pollfd p{wl_display_get_fd(d), static_cast<short>(POLLIN | (full ? POLLOUT : 0)), 0};
    const int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    const int pollError = errno;
    if (ready <= 0) {
      wl_display_cancel_read(d);
      if (ready < 0 && pollError == EINTR) continue;
      problem = ready == 0 ? "the desktop did not answer within " + std::to_string(waitMs) + " ms"
                           : std::string("waiting for the desktop failed (") + std::strerror(pollError) + ")";
      return false;
    }
    if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) {  // only room to send: send, then wait on
      wl_display_cancel_read(d);
      continue;
    }
    if (wl_display_read_events(d) < 0 || wl_display_dispatch_pending(d) < 0)
      return problem = WaylandFailure(d), false;
  }
  return true;
}

}  // namespace tarvik::lnx
