#include "keys/typing_policy.h"

#include <algorithm>

namespace tarvik::typing {
namespace {

bool Contains(std::span<const KeyId> keys, KeyId key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// Keys we press ourselves, so ours to release if the system stops half-way.
// A Unicode event is no key that stays down; the user's keys are the user's.
bool Ours(Role role) { return role == Role::Key || role == Role::Modifier || role == Role::Mask; }

// The mask key's tap, where `key` is an Alt or Super and the keyboard has one.
void AppendMaskTap(std::vector<Event>& out, KeyId key, const IModifierKeys& keys) {
  const auto m = keys.Modifier(key);
  if (!m || !m->tapActs) return;
  const auto mask = keys.MaskKey();
  if (!mask) return;
  out.push_back({*mask, true, Role::Mask});
  out.push_back({*mask, false, Role::Mask});
}

}  // namespace

WrappedKey Wrap(const Stroke& stroke, std::span<const KeyId> held, const IModifierKeys& keys) {
  // A held modifier that the key needs stays down and stands in for ours;
  // every other one would make the key a chord (Ctrl+W, Alt+F4) or another
  // character, and is let go for it.
  std::vector<KeyId> release;
  ModMask have = 0;
  for (KeyId h : held) {
    const auto m = keys.Modifier(h);
    if (!m) continue;
    if (m->mask != 0 && (m->mask & stroke.needs) == m->mask) {
      have |= m->mask;
      continue;
    }
    release.push_back(h);
  }
  std::vector<KeyId> press;
  for (const auto& p : stroke.presses)
    if (p.mask != 0 && !(have & p.mask)) press.push_back(p.key);

  WrappedKey w;
  w.events = LetGo(release, keys);
  for (KeyId k : press) w.events.push_back({k, true, Role::Modifier});
  w.events.insert(w.events.end(), stroke.body.begin(), stroke.body.end());
  for (auto it = press.rbegin(); it != press.rend(); ++it)
    w.events.push_back({*it, false, Role::Modifier});
  w.restore.assign(release.rbegin(), release.rend());
  return w;
}

std::vector<Event> LetGo(std::span<const KeyId> held, const IModifierKeys& keys) {
  std::vector<Event> out;
  for (KeyId k : held) {
    // The user's press, then our release with nothing between, would act:
    // the mask key stands between.
    AppendMaskTap(out, k, keys);
    out.push_back({k, false, Role::UserRelease});
  }
  return out;
}

std::vector<Event> PressAgain(std::span<const KeyId> held, const IModifierKeys& keys) {
  std::vector<Event> out;
  for (KeyId k : held) {
    out.push_back({k, true, Role::UserRestore});
    // The user's own release comes later, with nothing of ours after it.
    AppendMaskTap(out, k, keys);
  }
  return out;
}

std::vector<Event> UndoAfterRefusal(std::span<const Event> sent, std::size_t taken) {
  std::vector<Event> out;
  auto listed = [&](KeyId key) {
    return std::any_of(out.begin(), out.end(), [&](const Event& e) { return e.key == key; });
  };
  if (taken == IKeys::kTakenUnknown) {
    // Any part may have gone: every key of ours pressed anywhere goes up.
    for (auto it = sent.rbegin(); it != sent.rend(); ++it)
      if (it->down && Ours(it->role) && !listed(it->key)) out.push_back({it->key, false, it->role});
    return out;
  }
  std::vector<Event> down;  // keys of ours the part that went left pressed, in press order
  for (std::size_t i = 0; i < taken && i < sent.size(); ++i) {
    const Event& e = sent[i];
    if (!Ours(e.role)) continue;
    auto same = [&](const Event& d) { return d.key == e.key; };
    if (e.down) {
      if (std::none_of(down.begin(), down.end(), same)) down.push_back(e);
    } else {
      down.erase(std::remove_if(down.begin(), down.end(), same), down.end());
    }
  }
  for (auto it = down.rbegin(); it != down.rend(); ++it) out.push_back({it->key, false, it->role});
  return out;
}

bool TypeStroke(IKeys& keys, const Stroke& stroke, std::span<const KeyId> held) {
  if (stroke.body.empty()) return true;
  const WrappedKey w = Wrap(stroke, held, keys);
  const std::size_t taken = keys.Send(w.events);
  if (taken != w.events.size()) {
    const auto undo = UndoAfterRefusal(w.events, taken);
    if (!undo.empty()) keys.Send(undo);
    return false;
  }
  if (w.restore.empty()) return true;
  // Read after the key went out: a modifier the user let go meanwhile stays
  // up, and where the fingers cannot be told, all stay up: a modifier let go
  // too early is a nuisance, one stuck down turns the user's typing into shortcuts.
  const auto physical = keys.PhysicallyHeld();
  if (!physical) return true;
  std::vector<KeyId> again;
  for (KeyId k : w.restore)
    if (Contains(*physical, k)) again.push_back(k);
  if (!again.empty()) keys.Send(PressAgain(again, keys));
  return true;
}

void ReleaseStrays(IKeys& keys, std::span<const KeyId> held) {
  if (held.empty()) return;
  const auto physical = keys.PhysicallyHeld();
  if (!physical) return;
  std::vector<KeyId> stray;
  for (KeyId k : held)
    if (!Contains(*physical, k)) stray.push_back(k);
  if (!stray.empty()) keys.Send(LetGo(stray, keys));
}

}  // namespace tarvik::typing
