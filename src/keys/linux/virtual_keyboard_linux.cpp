#include "keys/linux/virtual_keyboard_linux.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "keys/linux/wayland_client_linux.h"
#include "keys/linux/xkb_keymap_text.h"

namespace tarvik::lnx {
namespace {

constexpr std::uint32_t kManagerVersion = 1;
constexpr std::uint32_t kSeatVersion = 1;
// How long a full socket may hold up a batch of keys before it counts as refused.
constexpr int kFlushWaitMs = 2000;
constexpr std::uint32_t kMsPerSecond = 1000;
constexpr long kNsPerMs = 1000000;

using ManagerPtr = WlPtr<zwp_virtual_keyboard_manager_v1, zwp_virtual_keyboard_manager_v1_destroy>;
using KeyboardPtr = WlPtr<zwp_virtual_keyboard_v1, zwp_virtual_keyboard_v1_destroy>;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Key timestamps: milliseconds on a clock that does not jump; they wrap.
std::uint32_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(ts.tv_sec) * kMsPerSecond +
         static_cast<std::uint32_t>(ts.tv_nsec / kNsPerMs);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes out what is queued; waits while the compositor is slow to read.
bool Flush(wl_display* d) {
  while (wl_display_flush(d) < 0) {
    if (errno != EAGAIN) return false;
    pollfd p{wl_display_get_fd(d), POLLOUT, 0};
    if (poll(&p, 1, kFlushWaitMs) <= 0) return false;
  }
  return true;
}

}  // namespace

struct WaylandVirtualKeyboard::Connection {
  WlDisplayPtr display;
  WlRegistryPtr registry;
  WlSeatPtr seat;
  ManagerPtr manager;
  KeyboardPtr keyboard;  // last: it goes first

  static void Global(void* data, wl_registry* r, std::uint32_t name, const char* iface,
                     std::uint32_t /*version*/) {
    auto* c = static_cast<Connection*>(data);
    // The first seat: a desktop with several gives each its own focus, and
    // the first is the one its own keyboard and pointer are on.
    if (!c->seat && std::strcmp(iface, wl_seat_interface.name) == 0)
      c->seat.reset(static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, kSeatVersion)));
    else if (!c->manager && std::strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
      c->manager.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
          wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, kManagerVersion)));
  }
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kListener{Global, GlobalRemove};
};

WaylandVirtualKeyboard::WaylandVirtualKeyboard(std::unique_ptr<Connection> c)
    : c_(std::move(c)), map_(OwnKeymap()) {}

WaylandVirtualKeyboard::~WaylandVirtualKeyboard() {
  c_->keyboard.reset();
  Flush(c_->display.get());
}

std::unique_ptr<WaylandVirtualKeyboard> WaylandVirtualKeyboard::Open(std::string& problem) {
  auto c = std::make_unique<Connection>();
  c->display = ConnectWayland(problem);
  if (!c->display) return nullptr;
  wl_display* d = c->display.get();
  c->registry.reset(wl_display_get_registry(d));
  wl_registry_add_listener(c->registry.get(), &Connection::kListener, c.get());
  if (!WaylandRoundtrip(d, problem)) return nullptr;
  if (!c->manager) {
    problem = "the Wayland desktop offers no virtual keyboard (zwp_virtual_keyboard_v1)";
    return nullptr;
  }
  if (!c->seat) {
    problem = "the Wayland desktop has no seat to type on";
    return nullptr;
  }
  c->keyboard.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(c->manager.get(),
                                                                            c->seat.get()));
  std::unique_ptr<WaylandVirtualKeyboard> kb(new WaylandVirtualKeyboard(std::move(c)));
  std::string why;
  if (!kb->Upload() || !WaylandRoundtrip(d, why)) {
    problem = "the Wayland desktop refused a virtual keyboard: " + why;
    return nullptr;
  }
  return kb;
}

// The keymap goes as a file the compositor maps: a memory file holding the
// text and its terminating NUL.
bool WaylandVirtualKeyboard::Upload() {
  const std::string text = XkbKeymapText(map_);
  const Fd fd(memfd_create("tarvik-keymap", MFD_CLOEXEC));
  if (fd.get() < 0 || !WriteAll(fd.get(), text.c_str(), text.size() + 1)) return false;
  // The request carries a copy of the descriptor: ours can close.
  zwp_virtual_keyboard_v1_keymap(c_->keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd.get(),
                                 static_cast<std::uint32_t>(text.size() + 1));
  return true;
}

bool WaylandVirtualKeyboard::Commit() {
  std::string why;
  stale_ = !(Upload() && WaylandRoundtrip(c_->display.get(), why));
  return !stale_;
}

bool WaylandVirtualKeyboard::Send(std::span<const XKeyAction> events) {
  wl_display* d = c_->display.get();
  if (wl_display_get_error(d) != 0 || (stale_ && !Commit())) return false;
  for (const auto& e : events) {
    if (e.code < kFirstKeycode) continue;
    zwp_virtual_keyboard_v1_key(c_->keyboard.get(), NowMs(), e.code - kEvdevOffset,
                                e.down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                       : WL_KEYBOARD_KEY_STATE_RELEASED);
  }
  return Flush(d) && wl_display_get_error(d) == 0;
}

// Each keymap sent costs the compositor and every client in front a new
// compilation (Xwayland runs xkbcomp for it), so unbindings wait for the
// next keymap that has to go anyway.
bool WaylandVirtualKeyboard::Remap(Keycode code, Keysym sym) {
  SetOwnKey(map_, code, sym);
  if (sym != xk::kNoSymbol) return Commit();
  stale_ = true;
  return true;
}

std::unique_ptr<VirtualKeyboardSender> VirtualKeyboardSender::Open(std::string& problem,
                                                                   IDiagnostics& log) {
  auto keyboard = WaylandVirtualKeyboard::Open(problem);
  if (!keyboard) return nullptr;
  return std::unique_ptr<VirtualKeyboardSender>(new VirtualKeyboardSender(std::move(keyboard), log));
}

}  // namespace tarvik::lnx
