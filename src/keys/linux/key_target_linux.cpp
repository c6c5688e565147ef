#include "keys/linux/key_target_linux.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "core/trim.h"
#include "core/utf8.h"
#include "keys/linux/x_error_trap.h"

namespace tarvik::lnx {
namespace {

// How far up from the focused window a top-level window is looked for:
// toolkits give the focus to a child a few levels down.
constexpr int kMaxWindowDepth = 16;
// Properties longer than this are read as far as this (32-bit units).
constexpr long kPropertyLongs = 1024;

// One property's items; empty when the window has none of that type.
std::string Property(Display* d, Window w, Atom name, Atom type, int& format, unsigned long& items) {
  Atom actual = None;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  items = 0;
  if (XGetWindowProperty(d, w, name, 0, kPropertyLongs, False, type, &actual, &format, &items,
                         &after, &data) != Success || !data)
    return {};
  std::string out;
  if (actual == type && items > 0) {
    const std::size_t unit = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
    out.assign(reinterpret_cast<const char*>(data), items * unit);
  }
  XFree(data);
  return out;
}

std::optional<long> CardinalProperty(Display* d, Window w, Atom name, Atom type) {
  int format = 0;
  unsigned long items = 0;
  const std::string bytes = Property(d, w, name, type, format, items);
  if (format != 32 || items == 0) return std::nullopt;
  return *reinterpret_cast<const long*>(bytes.data());
}

// The process's name as the system lists it (cut to 15 characters; a
// script's own name rather than its interpreter's), and its program file's
// name, readable for the user's own processes.
void ProgramNames(long pid, KeyTarget& t) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream comm(proc + "/comm");
  std::string name;
  std::getline(comm, name);
  t.processName = std::string(Trim(name));
  char path[PATH_MAX];
  const ssize_t n = readlink((proc + "/exe").c_str(), path, sizeof path - 1);
  const std::string exe = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
  t.program = exe.empty() ? t.processName : exe.substr(exe.rfind('/') + 1);
}

// An old-style title is Latin-1.
std::string Latin1ToUtf8(const std::string& text) {
  std::u32string chars;
  for (char c : text) chars += static_cast<char32_t>(static_cast<unsigned char>(c));
  return EncodeUtf8(chars);
}

}  // namespace

X11KeyTarget::X11KeyTarget() : X11KeyTarget(nullptr) {}

X11KeyTarget::X11KeyTarget(const char* display) {
  const char* name = display ? display : std::getenv("DISPLAY");
  if (name && *name) d_ = XOpenDisplay(name);
  int event = 0, error = 0;
  saverExtension_ = d_ && XScreenSaverQueryExtension(d_, &event, &error);
}

X11KeyTarget::~X11KeyTarget() {
  if (d_) XCloseDisplay(d_);
}

void X11KeyTarget::Describe(Window focus, KeyTarget& t) const {
  ErrorTrap trap(d_);  // the window may go away while we look at it
  const Atom pidAtom = XInternAtom(d_, "_NET_WM_PID", False);
  const Atom nameAtom = XInternAtom(d_, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d_, "UTF8_STRING", False);
  const Window root = DefaultRootWindow(d_);
  // The window manager's word first; without one, up from the focus to the
  // window that says which process it belongs to.
  Window w = focus;
  if (const auto active = CardinalProperty(d_, root, XInternAtom(d_, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
      active && *active != None)
    w = static_cast<Window>(*active);
  for (int depth = 0; depth < kMaxWindowDepth && w != None && w != root; ++depth) {
    const auto pid = CardinalProperty(d_, w, pidAtom, XA_CARDINAL);
    int format = 0;
    unsigned long items = 0;
    std::string title = Property(d_, w, nameAtom, utf8, format, items);
    if (title.empty()) title = Latin1ToUtf8(Property(d_, w, XA_WM_NAME, XA_STRING, format, items));
    if (pid || !title.empty()) {
      if (pid) ProgramNames(*pid, t);
      t.title = title;
      break;
    }
    Window rootReturn = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d_, w, &rootReturn, &parent, &children, &count)) break;
    if (children) XFree(children);
    w = parent;
  }
  trap.Failed();
}

LockReading X11KeyTarget::ScreenSaver() const {
  LockReading r{"the X screen saver"};
  if (!d_ || !saverExtension_) {
    r.why = d_ ? "the X server has no MIT-SCREEN-SAVER" : "no X display";
    return r;
  }
  XScreenSaverInfo info{};
  if (!XScreenSaverQueryInfo(d_, DefaultRootWindow(d_), &info)) {
    r.why = "XScreenSaverQueryInfo failed";
    return r;
  }
  r.word = info.state == ScreenSaverOn ? LockWord::kLocked : LockWord::kUnlocked;
  return r;
}

KeyTarget X11KeyTarget::Query() const {
  KeyTarget t;
  t.targetIntegrity = t.ownIntegrity;
  if (!d_) return t;
  Window focus = None;
  int revert = 0;
  XGetInputFocus(d_, &focus, &revert);
  if (focus == None) {
    t.hasForeground = false;
    return t;
  }
  // With the focus on the root, or following the pointer, keys go to the
  // top-level window under the pointer, if there is one.
  const Window root = DefaultRootWindow(d_);
  if (focus == PointerRoot || focus == root) {
    Window rootReturn = None, child = None;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    const bool sameScreen = XQueryPointer(d_, root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
    t.hasForeground = !sameScreen || child != None;
    focus = child;
  }
  if (t.hasForeground) Describe(focus, t);
  return t;
}

}  // namespace tarvik::lnx
