#include "keys/linux/xkey_injector.h"

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

XKeyInjector::~XKeyInjector() { UnbindAll(); }

XKeyInjector::Needs XKeyInjector::Assess(std::span<const std::string> tokens,
                                         const XKeymap& map) const {
  Needs n;
  for (const auto& token : tokens) {
    const XStroke s = PlanXStroke(token, map, 0);
    if (s.missing != xk::kNoSymbol) {
      if (std::find(n.missing.begin(), n.missing.end(), s.missing) == n.missing.end())
        n.missing.push_back(s.missing);
      continue;
    }
    if (s.stroke.body.empty()) continue;
    const auto code = static_cast<Keycode>(s.stroke.body.front().key);
    for (std::size_t i = 0; i < bound_.size(); ++i)
      if (bound_[i].code == code &&
          std::find(n.typing.begin(), n.typing.end(), i) == n.typing.end())
        n.typing.push_back(i);
  }
  return n;
}

std::vector<std::size_t> XKeyInjector::Reusable(const Needs& needs) const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < bound_.size(); ++i) {
    const bool typing = std::find(needs.typing.begin(), needs.typing.end(), i) != needs.typing.end();
    if (!typing && !(inRecord_ && bound_[i].record == record_)) out.push_back(i);
  }
  std::sort(out.begin(), out.end(),
            [&](std::size_t a, std::size_t b) { return bound_[a].ended < bound_[b].ended; });
  return out;
}

bool XKeyInjector::MayRebind(const Binding& b, Clock::time_point now) const {
  if (inRecord_ && b.record == record_) return false;
  return now - b.ended >= kBindingHold;
}

bool XKeyInjector::BindTo(Keycode code, Keysym sym, std::optional<std::size_t> replacing) {
  if (!kb_.Remap(code, sym)) {
    log_.Event("Binding a character to spare keycode " + std::to_string(code) + " failed");
    return false;
  }
  const Binding b{code, sym, record_, kb_.Now()};
  if (replacing) {
    bound_[*replacing] = b;
  } else {
    bound_.push_back(b);
  }
  return true;
}

void XKeyInjector::Forget(const XKeymap& map) {
  std::erase_if(bound_, [&](const Binding& b) { return !HasSym(map.keys[b.code], b.sym); });
}

void XKeyInjector::UnbindAll() {
  if (bound_.empty()) return;
  Forget(kb_.Keymap());  // a keycode a new layout has given another meaning is left as it is
  const auto ours = bound_;
  bound_.clear();
  for (const auto& b : ours) kb_.Remap(b.code, xk::kNoSymbol);
}

bool XKeyInjector::CanType(std::string_view token) {
  const XKeymap& map = kb_.Keymap();
  if (PlanXStroke(token, map, 0).missing == xk::kNoSymbol) return true;
  return !map.spare.empty() || !bound_.empty();
}

bool XKeyInjector::CanTypeAll(std::span<const std::string> tokens) {
  const XKeymap& map = kb_.Keymap();
  Forget(map);
  const Needs needs = Assess(tokens, map);
  return Fits(needs, map.spare.size() + Reusable(needs).size());
}

bool XKeyInjector::Fits(const Needs& needs, std::size_t keycodes) {
  if (needs.missing.size() <= keycodes) return true;
  log_.Event("A record has " + std::to_string(needs.missing.size()) +
             " different characters the keyboard layout lacks; " + std::to_string(keycodes) +
             " spare keycodes can take them");
  return false;
}

std::optional<std::chrono::milliseconds> XKeyInjector::Ready(std::span<const std::string> tokens) {
  const XKeymap& map = kb_.Keymap();
  Forget(map);
  const Needs needs = Assess(tokens, map);
  // The bindings this record types with are its own until it ends.
  const auto own = [&] {
    for (std::size_t i : needs.typing) bound_[i].record = record_;
    return std::chrono::milliseconds(0);
  };
  if (needs.missing.empty()) return own();
  const std::vector<Keycode> spare = map.spare;  // Remap changes the mapping
  const std::vector<std::size_t> reuse = Reusable(needs);
  if (!Fits(needs, spare.size() + reuse.size())) return std::nullopt;
  const std::size_t fromReuse =
      needs.missing.size() > spare.size() ? needs.missing.size() - spare.size() : 0;
  const Clock::time_point now = kb_.Now();
  if (fromReuse > 0) {
    // The youngest of the bindings to take over: the others are older still.
    const Binding& youngest = bound_[reuse[fromReuse - 1]];
    if (!MayRebind(youngest, now)) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(youngest.ended + kBindingHold - now);
      return std::max(wait, std::chrono::milliseconds(1));
    }
  }
  for (std::size_t i = 0; i < needs.missing.size(); ++i) {
    const bool ok = i < spare.size() ? BindTo(spare[i], needs.missing[i], std::nullopt)
                                     : BindTo(bound_[reuse[i - spare.size()]].code, needs.missing[i],
                                              reuse[i - spare.size()]);
    if (!ok) return std::nullopt;
  }
  return own();
}

void XKeyInjector::BeginRecord() {
  ++record_;
  inRecord_ = true;
}

bool XKeyInjector::SendKeyTokens(std::string_view token) {
  const XKeyboardState st = kb_.State();
  XStroke plan = PlanXStroke(token, kb_.Keymap(), st.locked);
  if (plan.missing != xk::kNoSymbol) {
    // Not readied before the record (the layout changed since): a free
    // keycode, or the oldest binding no key still waiting can be using.
    const XKeymap& map = kb_.Keymap();
    std::optional<Keycode> code;
    std::optional<std::size_t> replacing;
    if (!map.spare.empty()) code = map.spare.front();
    for (std::size_t i : Reusable({})) {
      if (code || !MayRebind(bound_[i], kb_.Now())) break;
      code = bound_[i].code;
      replacing = i;
    }
    if (code && BindTo(*code, plan.missing, replacing))
      plan = PlanXStroke(token, kb_.Keymap(), st.locked);
    // Dropping the character would type another record than the one
    // scanned: the record ends here, refused, and the user hears of it.
    if (plan.missing != xk::kNoSymbol) {
      log_.Event("A character of a record has no key and no spare keycode since the layout "
                 "changed: the rest of the record is not typed");
      return false;
    }
  }
  if (plan.stroke.body.empty()) return true;
  const auto code = static_cast<Keycode>(plan.stroke.body.front().key);
  for (auto& b : bound_)
    if (b.code == code) b.record = record_;
  PolicyKeys keys(kb_, kb_.Keymap());
  return typing::TypeStroke(keys, plan.stroke, Ids(st.held));
}

void XKeyInjector::EndRecord() {
  // The keys down are read once ours are all out; a refusal among the last
  // ones has let our keys go already, and was the caller's to hear at Flush.
  kb_.Sync();
  inRecord_ = false;
  const Clock::time_point now = kb_.Now();
  for (auto& b : bound_)
    if (b.record == record_) b.ended = now;
  const XKeyboardState st = kb_.State();
  if (st.held.empty()) return;
  PolicyKeys keys(kb_, kb_.Keymap());
  typing::ReleaseStrays(keys, Ids(st.held));
  kb_.Sync();  // the releases are out before the record counts as ended
}

}  // namespace tarvik::lnx
