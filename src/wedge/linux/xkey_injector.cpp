#include "wedge/linux/xkey_injector.h"

#include <algorithm>
#include <string>

namespace tarvik::lnx {
namespace {

std::vector<typing::KeyId> Ids(const std::vector<Keycode>& codes) {
  return {codes.begin(), codes.end()};
}

// The X keyboard as the typing policy sees it, its mapping as it is now.
class PolicyKeys final : public typing::IKeys {
 public:
  PolicyKeys(IXKeyboard& kb, const XKeymap& map) : kb_(kb), modifiers_(map) {}
  std::optional<typing::ModifierKey> Modifier(typing::KeyId key) const override {
    return modifiers_.Modifier(key);
  }
  std::optional<typing::KeyId> MaskKey() const override { return modifiers_.MaskKey(); }
  std::optional<std::vector<typing::KeyId>> PhysicallyHeld() override {
    auto held = kb_.PhysicallyHeld();
    if (!held) return std::nullopt;
    return Ids(*held);
  }
  // The server answers a refusal for the whole batch: which events it took
  // is unknown.
  std::size_t Send(std::span<const typing::Event> events) override {
    return kb_.Send(ToXKeyActions(events)) ? events.size() : kTakenUnknown;
  }

 private:
  IXKeyboard& kb_;
  XModifierKeys modifiers_;
};

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
  if (PlanXStroke(token, map, 0).missing == xk::kNoSymbol) return true;
  return !map.spare.empty() || !bound_.empty();
}

void XKeyInjector::BeginRecord() {
  Unbind();
  skippedInRecord_ = 0;
}

bool XKeyInjector::SendKeyTokens(std::string_view token) {
  const XKeyboardState st = kb_.State();
  XStroke plan = PlanXStroke(token, kb_.Keymap(), st.locked);
  if (plan.missing != xk::kNoSymbol) {
    if (Bind(plan.missing)) plan = PlanXStroke(token, kb_.Keymap(), st.locked);
    if (plan.missing != xk::kNoSymbol) {
      ++skipped_;
      ++skippedInRecord_;
      return true;
    }
  }
  if (plan.stroke.body.empty()) return true;
  PolicyKeys keys(kb_, kb_.Keymap());
  return typing::TypeStroke(keys, plan.stroke, Ids(st.held));
}

void XKeyInjector::EndRecord() {
  // The keys down are read once ours are all out; a refusal among the last
  // ones has let our keys go already, and was the caller's to hear at Flush.
  kb_.Sync();
  if (skippedInRecord_ > 0)
    log_.Event(std::to_string(skippedInRecord_) +
               " characters of a record were not typed: no key and no spare keycode for them");
  skippedInRecord_ = 0;
  const XKeyboardState st = kb_.State();
  if (st.held.empty()) return;
  PolicyKeys keys(kb_, kb_.Keymap());
  typing::ReleaseStrays(keys, Ids(st.held));
  kb_.Sync();  // the releases are out before the record counts as ended
}

}  // namespace tarvik::lnx
