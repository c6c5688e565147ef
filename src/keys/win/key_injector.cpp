#include "keys/win/key_injector.h"

#include <utility>

#include "keys/typing_policy.h"

namespace tarvik {
namespace {

std::vector<typing::KeyId> Ids(const std::vector<std::uint8_t>& modifiers) {
  std::vector<typing::KeyId> ids;
  for (auto v : modifiers) ids.push_back(ModifierKeyId(v));
  return ids;
}

// The keyboard as the typing policy sees it.
class PolicyKeys final : public typing::IKeys {
 public:
  explicit PolicyKeys(IKeyboard& kb) : kb_(kb) {}
  std::optional<typing::ModifierKey> Modifier(typing::KeyId key) const override {
    return modifiers_.Modifier(key);
  }
  std::optional<typing::KeyId> MaskKey() const override { return modifiers_.MaskKey(); }
  // Raw input tells the fingers; without it nothing is known of them.
  std::optional<std::vector<typing::KeyId>> PhysicallyHeld() override {
    const auto physical = kb_.HeldModifiers().physical;
    if (!physical) return std::nullopt;
    return Ids(*physical);
  }
  std::size_t Send(std::span<const typing::Event> events) override {
    return kb_.Inject(ToKeyEvents(events));
  }

 private:
  IKeyboard& kb_;
  WinModifierKeys modifiers_;
};

}  // namespace

void KeyInjector::BeginRecord() {
  capsLock_ = kb_.CapsLock();
  firstLayout_ = &kb_.FocusedLayout();
  unicode_ = SendsUnicode(kb_.FocusedInputProfile(), mode_);
}

bool KeyInjector::SendKeyTokens(std::string_view token) {
  const auto held = Ids(kb_.HeldModifiers().down);
  const KeyboardState st{capsLock_, unicode_};
  PolicyKeys keys(kb_);
  const IKeyboardLayout& layout = firstLayout_ ? *std::exchange(firstLayout_, nullptr) : kb_.FocusedLayout();
  return typing::TypeStroke(keys, PlanKeyStroke(token, layout, st), held);
}

void KeyInjector::EndRecord() {
  PolicyKeys keys(kb_);
  typing::ReleaseStrays(keys, Ids(kb_.HeldModifiers().down));
}

}  // namespace tarvik
