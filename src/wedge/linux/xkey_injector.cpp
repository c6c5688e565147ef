#include "wedge/linux/xkey_injector.h"

#include <algorithm>
#include <string>

namespace tarvik::lnx {
namespace {

bool Contains(const std::vector<Keycode>& keys, Keycode code) {
  return std::find(keys.begin(), keys.end(), code) != keys.end();
}

bool HasSym(const XKey& key, Keysym sym) {
  return std::any_of(key.levels.begin(), key.levels.end(),
                     [&](const XLevel& l) { return l.sym == sym; });
}

}  // namespace

XKeyInjector::~XKeyInjector() { Unbind(); }

// A window reads a changed mapping only when it looks up the key, and then
// asks the server for the mapping as it is at that moment: a binding undone
// right after its key would often be gone by then, and the window would see
// a key without a character. So bindings stay for the rest of the record
// (each missing character on a keycode of its own while spare ones last)
// and are undone when the next record starts, or when the program ends.
bool XKeyInjector::Bind(Keysym sym) {
  const XKeymap& map = kb_.Keymap();
  Keycode code = 0;
  if (!map.spare.empty()) {
    code = map.spare.front();
  } else if (!bound_.empty()) {
    code = bound_.front().code;
    bound_.erase(bound_.begin());
  } else {
    return false;
  }
  if (!kb_.Remap(code, sym)) {
    log_.Event("Binding a character to spare keycode " + std::to_string(code) + " failed");
    return false;
  }
  bound_.push_back({code, sym});
  return true;
}

void XKeyInjector::Unbind() {
  if (bound_.empty()) return;
  const XKeymap& map = kb_.Keymap();
  for (const auto& b : bound_)
    // A keycode the mapping has given another meaning meanwhile (a new
    // layout) is left as it is.
    if (HasSym(map.keys[b.code], b.sym)) kb_.Remap(b.code, xk::kNoSymbol);
  bound_.clear();
}

bool XKeyInjector::CanType(std::string_view token) {
  const XKeymap& map = kb_.Keymap();
  if (PlanXKeys(token, map, {}).missing == xk::kNoSymbol) return true;
  return !map.spare.empty() || !bound_.empty();
}

void XKeyInjector::BeginRecord() {
  Unbind();
  skippedInRecord_ = 0;
}

bool XKeyInjector::SendKeyTokens(std::string_view token) {
  const XKeyboardState st = kb_.State();
  XKeyPlan plan = PlanXKeys(token, kb_.Keymap(), st);
  if (plan.missing != xk::kNoSymbol) {
    if (Bind(plan.missing)) plan = PlanXKeys(token, kb_.Keymap(), st);
    if (plan.missing != xk::kNoSymbol) {
      ++skipped_;
      ++skippedInRecord_;
      return true;
    }
  }
  if (plan.events.empty()) return true;
  if (!kb_.Send(plan.events)) {
    // Which events the server took is unknown: every key of ours goes up.
    const auto undo = ReleasesAfterFailure(plan);
    if (!undo.empty()) kb_.Send(undo);
    return false;
  }
  if (plan.restore.empty()) return true;
  // Read after the key went out: a modifier the user let go meanwhile stays
  // up, and where the fingers cannot be told, all stay up: a modifier let go
  // too early is a nuisance, one stuck down turns the user's typing into shortcuts.
  const auto physical = kb_.PhysicallyHeld();
  if (!physical) return true;
  std::vector<Keycode> again;
  for (Keycode c : plan.restore)
    if (Contains(*physical, c)) again.push_back(c);
  if (!again.empty()) kb_.Send(RestoreUserKeys(kb_.Keymap(), again));
  return true;
}

void XKeyInjector::EndRecord() {
  if (skippedInRecord_ > 0)
    log_.Event(std::to_string(skippedInRecord_) +
               " characters of a record were not typed: no key and no spare keycode for them");
  skippedInRecord_ = 0;
  const XKeyboardState st = kb_.State();
  if (st.held.empty()) return;
  const auto physical = kb_.PhysicallyHeld();
  if (!physical) return;
  std::vector<Keycode> stray;
  for (Keycode c : st.held)
    if (!Contains(*physical, c)) stray.push_back(c);
  if (!stray.empty()) kb_.Send(ReleaseUserKeys(kb_.Keymap(), stray));
}

}  // namespace tarvik::lnx
