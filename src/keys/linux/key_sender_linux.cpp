#include "keys/linux/key_sender_linux.h"

#include <cstdlib>

#include "keys/linux/key_target_linux.h"
#include "keys/linux/virtual_keyboard_linux.h"
#include "keys/linux/wayland_target_linux.h"
#include "keys/linux/xtest_keyboard_linux.h"

namespace tarvik::lnx {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

constexpr TypingWay kAllWays[] = {TypingWay::kXTest, TypingWay::kVirtualKeyboard, TypingWay::kPortal};

}  // namespace

bool Session::IsWayland() const {
  // A session that says what it is is believed; one that does not (started
  // by hand, a nested compositor) is what its displays say.
  if (type == "wayland") return true;
  if (type == "x11") return false;
  return !wayland.empty();
}

Session SessionFromEnvironment() {
  return {Env("XDG_SESSION_TYPE"), Env("WAYLAND_DISPLAY"), Env("DISPLAY"), Env(kTypingVariable)};
}

std::string_view TypingWayName(TypingWay way) {
  switch (way) {
    case TypingWay::kXTest: return "xtest";
    case TypingWay::kVirtualKeyboard: return "virtual-keyboard";
    case TypingWay::kPortal: return "portal";
  }
  return "?";
}

std::vector<TypingWay> TypingWays(const Session& s, std::string& problem) {
  if (!s.forced.empty()) {
    for (TypingWay way : kAllWays)
      if (s.forced == TypingWayName(way)) return {way};
    problem = std::string(kTypingVariable) + "=" + s.forced +
              " names no way of typing (xtest, virtual-keyboard or portal)";
    return {};
  }
  if (s.IsWayland()) return {TypingWay::kVirtualKeyboard, TypingWay::kPortal};
  if (!s.display.empty()) return {TypingWay::kXTest};
  problem = "neither a Wayland nor an X display is set";
  return {};
}

std::unique_ptr<IKeySender> MakeKeySender(std::string& problem, IDiagnostics& log,
                                          const PortalOpener& portal) {
  return MakeKeySender(SessionFromEnvironment(), problem, log, portal);
}

std::unique_ptr<IKeySender> MakeKeySender(const Session& session, std::string& problem,
                                          IDiagnostics& log, const PortalOpener& portal) {
  std::string why;
  const std::vector<TypingWay> ways = TypingWays(session, why);
  std::string reasons = why;
  for (TypingWay way : ways) {
    why.clear();
    std::unique_ptr<IKeySender> keys;
    std::string how;
    switch (way) {
      case TypingWay::kXTest:
        keys = XTestKeySender::Open(session.display.c_str(), why, log);
        how = "XTest on display " + session.display;
        break;
      case TypingWay::kVirtualKeyboard:
        keys = VirtualKeyboardSender::Open(why, log);
        how = "the compositor's virtual keyboard on " + session.wayland;
        break;
      case TypingWay::kPortal:
        if (portal) keys = portal(why);
        else why = "this program was built without it";
        how = "the desktop portal's remote keyboard";
        break;
    }
    if (keys) {
      log.Event("Keys are typed through " + how + " (" +
                (session.forced.empty() ? (session.IsWayland() ? "a Wayland session" : "an X11 session")
                                        : std::string(kTypingVariable) + "=" + session.forced) +
                ")");
      return keys;
    }
    log.Event("Typing through " + how + " is not possible: " + why);
    reasons += (reasons.empty() ? "" : ", and ") + why;
  }
  problem = "Keys cannot be typed here: " + reasons + ".";
  log.Event(problem);
  return nullptr;
}

DesktopTarget MakeKeyTarget(IDiagnostics& log) {
  DesktopTarget out;
  if (SessionFromEnvironment().IsWayland()) {
    auto list = std::make_unique<WlrootsKeyTarget>(log);
    // Once the desktop has listed its windows, the list guards for good: one
    // that fails later answers "no foreground" until it lists them again.
    out.lockSource = [w = list.get(), listed = false]() mutable {
      constexpr char kSource[] = "the compositor's window list";
      listed = listed || w->Lists();
      return listed ? LockReading{kSource, LockWord::kUnlocked}
                    : LockReading{kSource, LockWord::kUnknown, "not offered"};
    };
    out.window = std::move(list);
    out.lockMustBeKnown = true;
    return out;
  }
  auto x = std::make_unique<X11KeyTarget>();
  out.lockSource = [w = x.get()] { return w->ScreenSaver(); };
  out.window = std::move(x);
  return out;
}

}  // namespace tarvik::lnx
