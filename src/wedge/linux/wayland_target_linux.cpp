#include "wedge/linux/wayland_target_linux.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <string>

#include "wedge/linux/wayland_client_linux.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tarvik::lnx {
namespace {

// Version 3 adds the parent event; earlier ones do without it.
constexpr std::uint32_t kManagerVersion = 3;
constexpr char kNoFocusList[] =
    "The desktop does not tell which application has the focus: the rules' [app] and [title] "
    "sections never match";

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
  bool failed = false;

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
    static_cast<Connection*>(data)->failed = true;
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

WlrootsKeyTarget::WlrootsKeyTarget(IDiagnostics& log) : c_(std::make_unique<Connection>()) {
  std::string why;
  c_->display = ConnectWayland(why);
  if (c_->display) {
    wl_display* d = c_->display.get();
    c_->registry.reset(wl_display_get_registry(d));
    wl_registry_add_listener(c_->registry.get(), &Connection::kRegistryListener, c_.get());
    // The first round trip lists the globals, the second the windows.
    if (wl_display_roundtrip(d) < 0 || wl_display_roundtrip(d) < 0) why = WaylandFailure(d);
    else if (!c_->manager) why = "no zwlr_foreign_toplevel_manager_v1";
  }
  if (!Lists()) log.Event(std::string(kNoFocusList) + " (" + why + ")");
}

WlrootsKeyTarget::~WlrootsKeyTarget() {
  c_->toplevels.clear();
  c_->manager.reset();
}

bool WlrootsKeyTarget::Lists() const { return c_->display && c_->manager && !c_->failed; }

KeyTarget WlrootsKeyTarget::Query() const {
  KeyTarget t;
  t.targetIntegrity = t.ownIntegrity;
  if (!Lists()) return t;
  if (wl_display_roundtrip(c_->display.get()) < 0) {
    c_->failed = true;
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
