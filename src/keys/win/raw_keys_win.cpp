#include "keys/win/raw_keys_win.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/guard.h"
#include "core/win/message_window_win.h"
#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

// HID usage page "generic desktop controls", usage "keyboard".
constexpr USHORT kGenericDesktopPage = 0x01;
constexpr USHORT kKeyboardUsage = 0x06;
// The set-1 make code of the right Shift key (the left one's is 0x2A); Ctrl
// and Alt tell right from left by the E0 prefix instead.
constexpr USHORT kRightShiftMake = 0x36;
// The virtual key of a code that is only part of a sequence (the E1 of Pause,
// a keyboard overrun): it is no key.
constexpr USHORT kNoKey = 0xFF;
// Each modifier with the key that is down whenever either side is; the
// Windows keys have none.
struct ModifierPair {
  std::uint8_t either, left, right;
};
constexpr ModifierPair kModifierPairs[] = {
    {VK_SHIFT, VK_LSHIFT, VK_RSHIFT}, {VK_CONTROL, VK_LCONTROL, VK_RCONTROL}, {VK_MENU, VK_LMENU, VK_RMENU}};
constexpr std::uint8_t kWindowsKeys[] = {VK_LWIN, VK_RWIN};

// Raw input goes to one window per process: a second watcher would take it
// from the first.
std::atomic<PhysicalKeys*> g_physical{nullptr};

}  // namespace

std::optional<KeyChange> KeyChangeFromRaw(const RAWKEYBOARD& key, HANDLE device) {
  if (!device || key.ExtraInformation == kOwnInputTag) return std::nullopt;  // injected
  if (key.VKey == 0 || key.VKey >= kNoKey) return std::nullopt;
  const bool e0 = (key.Flags & RI_KEY_E0) != 0;
  auto vk = static_cast<std::uint8_t>(key.VKey);
  switch (key.VKey) {
    case VK_SHIFT:
      // Keyboards send an E0-prefixed Shift around the cursor keys when
      // NumLock or Shift changes what those keys mean: no key was pressed.
      if (e0) return std::nullopt;
      vk = key.MakeCode == kRightShiftMake ? VK_RSHIFT : VK_LSHIFT;
      break;
    case VK_CONTROL:
      vk = e0 ? VK_RCONTROL : VK_LCONTROL;
      break;
    case VK_MENU:
      vk = e0 ? VK_RMENU : VK_LMENU;
      break;
    default:
      break;
  }
  return KeyChange{vk, (key.Flags & RI_KEY_BREAK) == 0};
}

std::uint64_t HeldKeys::Bit(HANDLE device) {
  HANDLE* free = nullptr;
  for (auto& k : keyboards_) {
    if (k == device) return std::uint64_t{1} << (&k - keyboards_.data());
    if (!k && !free) free = &k;
  }
  if (!free) return kUnknownKeyboard;
  *free = device;
  return std::uint64_t{1} << (free - keyboards_.data());
}

void HeldKeys::Change(KeyChange change, HANDLE device) {
  const std::uint64_t bit = Bit(device);
  // A release also ends a hold whose keyboard was not known.
  if (change.down) holders_[change.vk] |= bit;
  else holders_[change.vk] &= ~(bit | kUnknownKeyboard);
}

void HeldKeys::Removed(HANDLE device) {
  const auto k = std::find(keyboards_.begin(), keyboards_.end(), device);
  if (!device || k == keyboards_.end()) return;  // it held nothing of its own
  *k = nullptr;
  const std::uint64_t bit = std::uint64_t{1} << (k - keyboards_.begin());
  for (auto& h : holders_) h &= ~bit;
}

std::vector<std::uint8_t> ModifiersDown() {
  std::vector<std::uint8_t> keys;
  const auto down = [](std::uint8_t v) { return (GetAsyncKeyState(v) & 0x8000) != 0; };
  // Every question goes to the window system, before each key: a side is
  // asked only when its pair's key is down (in the usual case, none is).
  for (const auto& pair : kModifierPairs) {
    if (!down(pair.either)) continue;
    if (down(pair.left)) keys.push_back(pair.left);
    if (down(pair.right)) keys.push_back(pair.right);
  }
  for (auto v : kWindowsKeys)
    if (down(v)) keys.push_back(v);
  return keys;
}

PhysicalKeys::PhysicalKeys() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  // Keys held before raw input starts are taken as the system sees them.
  for (auto v : ModifiersDown()) held_.HeldBefore(v);
  PhysicalKeys* none = nullptr;
  if (!ready_ || !g_physical.compare_exchange_strong(none, this)) return;
  thread_ = std::thread([this] { Run(); });
  WaitForSingleObject(ready_.get(), INFINITE);
}

PhysicalKeys::~PhysicalKeys() {
  if (thread_.joinable()) {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  PhysicalKeys* self = this;
  g_physical.compare_exchange_strong(self, nullptr);
}

void PhysicalKeys::ForgetReleased() {
  if (PhysicalKeys* keys = g_physical)
    keys->held_.ForgetReleased([](std::uint8_t vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; });
}

void PhysicalKeys::ForgetAll() {
  if (PhysicalKeys* keys = g_physical) keys->held_.ForgetAll();
}

void CALLBACK PhysicalKeys::OnDesktopSwitch(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  ForgetAll();
}

void PhysicalKeys::Run() {
  RunOrStop("Watching the user's keys", [this] {
    threadId_ = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for WM_QUIT
    UniqueHwnd window;
    try {
      window = CreateMessageWindow(L"TarvikRawKeys", &PhysicalKeys::WindowProc, this,
                                   L"the watcher of the user's keys");
    } catch (const std::runtime_error& e) {
      DebugLine(std::string("Tarvik: ") + e.what());
    }
    RAWINPUTDEVICE keyboards{kGenericDesktopPage, kKeyboardUsage, RIDEV_INPUTSINK | RIDEV_DEVNOTIFY,
                             window.get()};
    const bool registered =
        window && RegisterRawInputDevices(&keyboards, 1, sizeof(keyboards));
    if (window && !registered)
      DebugLine(Narrow(DescribeFailure(L"Registering for the keyboards' raw input", GetLastError())));
    // Keys released after the input desktop switched (to the lock screen,
    // a UAC prompt, the secure attention screen) never come up here. The
    // hook's calls come through this thread's messages.
    const HWINEVENTHOOK switches =
        registered ? SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr,
                                     &PhysicalKeys::OnDesktopSwitch, 0, 0, WINEVENT_OUTOFCONTEXT)
                   : nullptr;
    known_ = registered;
    SetEvent(ready_.get());
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    known_ = false;
    if (switches) UnhookWinEvent(switches);
    if (registered) {
      RAWINPUTDEVICE none{kGenericDesktopPage, kKeyboardUsage, RIDEV_REMOVE, nullptr};
      RegisterRawInputDevices(&none, 1, sizeof(none));
    }
  });
}

void PhysicalKeys::OnInput(HRAWINPUT input) {
  RAWINPUT raw{};
  UINT size = sizeof(raw);
  if (GetRawInputData(input, RID_INPUT, &raw, &size, sizeof(RAWINPUTHEADER)) == static_cast<UINT>(-1))
    return;
  if (raw.header.dwType != RIM_TYPEKEYBOARD) return;
  if (const auto change = KeyChangeFromRaw(raw.data.keyboard, raw.header.hDevice))
    held_.Change(*change, raw.header.hDevice);
}

LRESULT CALLBACK PhysicalKeys::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<PhysicalKeys*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && msg == WM_INPUT) {
    RunOrStop("Reading the user's keys", [&] { self->OnInput(reinterpret_cast<HRAWINPUT>(lp)); });
  } else if (self && msg == WM_INPUT_DEVICE_CHANGE && wp == GIDC_REMOVAL) {
    // The keys held on a keyboard that went away (asleep, switched to another
    // computer) will never come up; those held on the others still are.
    self->held_.Removed(reinterpret_cast<HANDLE>(lp));
    return 0;
  }
  // For WM_INPUT this frees the system's copy of the input.
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace tarvik::win
