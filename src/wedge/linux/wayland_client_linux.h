// A client connection to the Wayland desktop, and its objects, each owned
// and released with the call the protocol gives for it.
#pragma once
#include <wayland-client.h>

#include <cerrno>
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

}  // namespace tarvik::lnx
