#include "keys/linux/wayland_target_linux.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "keys/linux/wayland_client_linux.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tarvik::lnx {
namespace {

// Version 3 adds the parent event; earlier ones do without it.
constexpr std::uint32_t kManagerVersion = 3;
constexpr char kNoFocusList[] =
    "The desktop does not tell which application has the focus: the rules' [app] and [title] "
    "sections never match";
constexpr char kListFinished[] = "the desktop ended its list of windows";

using ManagerPtr = WlPtr<zwlr_foreign_toplevel_manager_v1, zwlr_foreign_toplevel_manager_v1_destroy>;
using HandlePtr = WlPtr<zwlr_foreign_toplevel_handle_v1, zwlr_foreign_toplevel_handle_v1_destroy>;

// One window as the compositor last described it; its events come in
// batches that apply at "done".
struct Toplevel {
  std::list<Toplevel>* list = nullptr;  // the list that holds it
  HandlePtr handle;
  std::string title, appId;
  bool activated = false;
  std::string nextTitle, nextAppId;
  bool nextActivated = false;
};

}  // namespace

struct WlrootsKeyTarget::Connection {
  WlDisplayPtr display;
  WlRegistryPtr registry;
  ManagerPtr manager;
  std::list<Toplevel> toplevels;  // stable addresses: each is its handle's listener data
  std::string failure;            // why the list cannot be trusted any more
  // Last: it stops watching the socket before the socket closes.
  std::unique_ptr<QSocketNotifier> notifier;

  static void Global(void* data, wl_registry* r, std::uint32_t name, const char* iface,
                     std::uint32_t version) {
    auto* c = static_cast<Connection*>(data);
    if (c->manager || std::strcmp(iface, zwlr_foreign_toplevel_manager_v1_interface.name) != 0)
      return;
    c->manager.reset(static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        r, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, kManagerVersion))));
    zwlr_foreign_toplevel_manager_v1_add_listener(c->manager.get(), &kManagerListener, c);
  }
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistryListener{Global, GlobalRemove};

  static void NewToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                          zwlr_foreign_toplevel_handle_v1* handle) {
    auto* c = static_cast<Connection*>(data);
    Toplevel& t = c->toplevels.emplace_back();
    t.list = &c->toplevels;
    t.handle.reset(handle);
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, &t);
  }
  static void Finished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    static_cast<Connection*>(data)->failure = kListFinished;
  }
  static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{NewToplevel, Finished};

  static void Title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Toplevel*>(data)->nextTitle = title;
  }
  static void AppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* id) {
    static_cast<Toplevel*>(data)->nextAppId = id;
  }
  static void Output(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void State(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* t = static_cast<Toplevel*>(data);
    const auto* begin = static_cast<const std::uint32_t*>(states->data);
    const auto* end = begin + states->size / sizeof(std::uint32_t);
    t->nextActivated =
        std::find(begin, end, ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) != end;
  }
  static void Done(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* t = static_cast<Toplevel*>(data);
    t->title = t->nextTitle;
    t->appId = t->nextAppId;
    t->activated = t->nextActivated;
  }
  // The window is gone: its handle is destroyed with it.
  static void Closed(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* t = static_cast<Toplevel*>(data);
    t->list->remove_if([t](const Toplevel& w) { return &w == t; });
  }
  static void Parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
  static constexpr zwlr_foreign_toplevel_handle_v1_listener kHandleListener{
      Title, AppId, Output, Output, State, Done, Closed, Parent};
};

WlrootsKeyTarget::WlrootsKeyTarget(IDiagnostics& log, std::optional<int> answerWaitMs)
    : log_(log), waitMs_(answerWaitMs.value_or(kWaylandAnswerWaitMs)) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  std::string why = "no Wayland display is set";
  if (!name || !*name) {
    noList_ = true;
    log_.Event(std::string(kNoFocusList) + " (" + why + ")");
  } else if (!Connect(why) && !noList_) {
    Failed(why);
  }
}

WlrootsKeyTarget::~WlrootsKeyTarget() = default;

// Nothing is kept of a connection that does not list: a desktop that lacks
// the list from the first has none to fail (the focus counts as somewhere);
// one that had it and lacks it now is down.
bool WlrootsKeyTarget::Connect(std::string& why) const {
  auto c = std::make_unique<Connection>();
  c->display = ConnectWayland(why);
  if (!c->display) return false;
  wl_display* d = c->display.get();
  c->registry.reset(wl_display_get_registry(d));
  wl_registry_add_listener(c->registry.get(), &Connection::kRegistryListener, c.get());
  // The first round trip lists the globals, the second the windows.
  if (!WaylandRoundtrip(d, why, waitMs_) || !WaylandRoundtrip(d, why, waitMs_)) return false;
  if (!c->manager) {
    why = "no zwlr_foreign_toplevel_manager_v1";
    if (!listed_) {
      noList_ = true;
      log_.Event(std::string(kNoFocusList) + " (" + why + ")");
    }
    return false;
  }
  if (!c->failure.empty()) return why = c->failure, false;
  // The news between records are read as they come where an event loop runs
  // (the program's); elsewhere each query reads what has piled up.
  if (const auto* app = QCoreApplication::instance();
      app && app->thread() == QThread::currentThread()) {
    c->notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(d), QSocketNotifier::Read);
    QObject::connect(c->notifier.get(), &QSocketNotifier::activated, [this] { ReadWaiting(); });
  }
  c_ = std::move(c);
  listed_ = true;
  if (down_) log_.Event("The desktop lists its windows again: records are typed");
  down_ = false;
  return true;
}

void WlrootsKeyTarget::Failed(const std::string& why) const {
  if (!down_)
    log_.Event("The desktop's list of windows failed (" + why +
               "): no record is typed until it lists them again");
  down_ = true;
}

// The socket has news: read and apply them without waiting. A failure stops
// the watch (a closed socket would wake it forever) and is logged now; the
// next query connects again.
void WlrootsKeyTarget::ReadWaiting() const {
  if (!c_ || !c_->failure.empty()) return;
  wl_display* d = c_->display.get();
  bool ok = true;
  if (wl_display_prepare_read(d) == 0) ok = wl_display_read_events(d) >= 0;
  ok = ok && wl_display_dispatch_pending(d) >= 0;
  if (ok) wl_display_flush(d);  // destroyed handles; what does not fit goes with the next query
  else c_->failure = WaylandFailure(d);
  if (c_->failure.empty()) return;
  c_->notifier->setEnabled(false);
  Failed(c_->failure);
}

KeyTarget WlrootsKeyTarget::Query() const {
  KeyTarget t;
  t.targetIntegrity = t.ownIntegrity;
  if (noList_) return t;
  std::string why;
  if (c_ && c_->failure.empty() && !WaylandRoundtrip(c_->display.get(), why, waitMs_))
    c_->failure = why;
  if (c_ && !c_->failure.empty()) {
    Failed(c_->failure);
    c_.reset();
  }
  if (!c_ && !Connect(why)) {
    if (noList_) return t;
    Failed(why);
    t.hasForeground = false;
    return t;
  }
  const auto active = std::find_if(c_->toplevels.begin(), c_->toplevels.end(),
                                   [](const Toplevel& w) { return w.activated; });
  if (active == c_->toplevels.end()) {
    t.hasForeground = false;
    return t;
  }
  t.program = t.processName = active->appId;
  t.title = active->title;
  return t;
}

}  // namespace tarvik::lnx
