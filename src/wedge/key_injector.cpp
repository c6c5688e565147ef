#include "wedge/key_injector.h"

#include <algorithm>

namespace tarvik {
namespace {

bool Contains(const std::vector<std::uint8_t>& keys, std::uint8_t vk) {
  return std::find(keys.begin(), keys.end(), vk) != keys.end();
}

}  // namespace

void KeyInjector::BeginRecord() {
  capsLock_ = kb_.CapsLock();
  imeOpen_ = kb_.InputMethodOpen();
}

bool KeyInjector::SendKeyTokens(std::string_view token) {
  KeyboardState st;
  st.capsLock = capsLock_;
  st.imeOpen = imeOpen_;
  st.held = kb_.HeldModifiers().down;
  const KeyPlan plan = PlanKeyTokens(token, kb_.FocusedLayout(), st);
  if (plan.events.empty()) return true;
  const std::size_t inserted = kb_.Inject(plan.events);
  if (inserted < plan.events.size()) {
    const auto undo = ReleasesAfterPartialSend(plan, inserted);
    if (!undo.empty()) kb_.Inject(undo);
    return false;
  }
  if (plan.restore.empty()) return true;
  // Read after the key went out: a modifier the user let go meanwhile stays up.
  const auto physical = kb_.HeldModifiers().physical;
  std::vector<std::uint8_t> again;
  for (auto v : plan.restore)
    if (Contains(physical, v)) again.push_back(v);
  if (!again.empty()) kb_.Inject(RestoreEvents(again));
  return true;
}

void KeyInjector::EndRecord() {
  const auto mods = kb_.HeldModifiers();
  std::vector<std::uint8_t> stray;
  for (auto v : mods.down)
    if (!Contains(mods.physical, v)) stray.push_back(v);
  if (!stray.empty()) kb_.Inject(ReleaseEvents(stray));
}

}  // namespace tarvik
