#include "keys/win/send_keys_win.h"

#include <imm.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/win/text_win.h"

#ifndef MAPVK_VK_TO_VSC_EX
#define MAPVK_VK_TO_VSC_EX 4
#endif
#ifndef IMC_GETOPENSTATUS
#define IMC_GETOPENSTATUS 0x0005
#endif

namespace tarvik::win {
namespace {

// Left and right apart, in the order ModifiersDown gives them.
constexpr std::uint8_t kModifiers[] = {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                                       VK_LMENU,  VK_RMENU,  VK_LWIN,     VK_RWIN};

// ToUnicodeEx flag (Windows 10 1607 on): leave the kernel's dead-key state alone.
constexpr UINT kKeepKeyboardState = 0x4;
// How long the focused window's input method may take to say whether it is
// open; a hung program must not hold up typing.
constexpr UINT kImeQueryTimeoutMs = 100;

INPUT ToInput(const KeyEvent& e) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = e.vk;
  in.ki.wScan = e.scan;
  in.ki.dwExtraInfo = kOwnInputTag;  // not the user's keys, wherever raw input shows them
  if (e.role == KeyEvent::Role::Unicode) in.ki.dwFlags |= KEYEVENTF_UNICODE;
  if (e.extended) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  if (e.up) in.ki.dwFlags |= KEYEVENTF_KEYUP;
  return in;
}

}  // namespace

std::optional<IKeyboardLayout::Stroke> Win32KeyboardLayout::KeyFor(char32_t ch) const {
  if (ch > 0xFFFF) return std::nullopt;  // VkKeyScanEx takes one UTF-16 unit
  const SHORT r = VkKeyScanExW(static_cast<WCHAR>(ch), hkl_);
  if (r == -1) return std::nullopt;
  return Stroke{LOBYTE(r), HIBYTE(r)};
}

std::uint16_t Win32KeyboardLayout::ScanCode(std::uint8_t vk) const {
  return static_cast<std::uint16_t>(MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC_EX, hkl_));
}

IKeyboardLayout::Output Win32KeyboardLayout::Produces(Stroke s, bool capsLock) const {
  BYTE state[256] = {};
  if (s.shift & kShiftBit) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
  if (s.shift & kCtrlBit) state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
  if (s.shift & kAltBit) {
    state[VK_MENU] = 0x80;
    state[(s.shift & kCtrlBit) ? VK_RMENU : VK_LMENU] = 0x80;
  }
  if (capsLock) state[VK_CAPITAL] = 0x01;
  WCHAR buf[8] = {};
  const int n = ToUnicodeEx(s.vk, ScanCode(s.vk) & 0xFF, state, buf, 8, kKeepKeyboardState, hkl_);
  Output out;
  if (n < 0) {
    out.dead = true;
    return out;
  }
  for (int i = 0; i < n; ++i) {
    char32_t c = buf[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      c = 0x10000 + ((c - 0xD800) << 10) + (buf[i + 1] - 0xDC00);
      ++i;
    }
    out.text.push_back(c);
  }
  return out;
}

HWND FocusedWindow() {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  HWND target = nullptr;
  if (GetGUIThreadInfo(0, &info)) target = info.hwndFocus ? info.hwndFocus : info.hwndActive;
  return target ? target : GetForegroundWindow();
}

const IKeyboardLayout& Win32Keyboard::FocusedLayout() {
  focus_ = FocusedWindow();
  hkl_ = GetKeyboardLayout(focus_ ? GetWindowThreadProcessId(focus_, nullptr) : 0);
  layout_ = Win32KeyboardLayout(hkl_);
  return layout_;
}

IKeyboard::Modifiers Win32Keyboard::HeldModifiers() const {
  Modifiers m;
  // Without raw input the keys down could be ours as well as the user's:
  // the fingers are not known then, rather than guessed.
  if (physical_.Known()) m.physical.emplace();
  m.down = ModifiersDown();
  if (m.physical)
    for (auto v : kModifiers)
      if (physical_.Down(v)) m.physical->push_back(v);
  return m;
}

bool Win32Keyboard::CapsLock() const {
  // Our thread's own copy of the key state: the system brings a thread's
  // copy up to date for keys whose messages it never read, so a program in
  // the tray sees the user's Caps Lock. (Wine 8 does so only for threads
  // that existed when the key was pressed.) Not through AttachThreadInput
  // to the focused thread: attaching resets key state, and was seen to drop
  // that thread's Shift in the middle of a character.
  return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

InputProfile InputProfileOf(HWND window, HKL layout, InputProfile::Kind kind) {
  InputProfile p{reinterpret_cast<std::uintptr_t>(layout), kind, std::nullopt};
  HWND ime = window ? ImmGetDefaultIMEWnd(window) : nullptr;
  DWORD_PTR open = 0;
  if (ime && SendMessageTimeoutW(ime, WM_IME_CONTROL, IMC_GETOPENSTATUS, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                 kImeQueryTimeoutMs, &open))
    p.open = open != 0;
  return p;
}

InputProfile Win32Keyboard::FocusedInputProfile() {
  if (!std::exchange(profilesTried_, true)) {
    ITfInputProcessorProfileMgr* mgr = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TF_InputProcessorProfiles, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITfInputProcessorProfileMgr, reinterpret_cast<void**>(&mgr))))
      profiles_.reset(mgr);
  }
  auto kind = InputProfile::Kind::kUnknown;
  TF_INPUTPROCESSORPROFILE active{};
  // The profile is this thread's. Windows keeps one for all windows unless
  // the user has asked for one per window; a profile of another language than
  // the focused thread's layout is another window's, and tells nothing.
  if (profiles_ && SUCCEEDED(profiles_->GetActiveProfile(GUID_TFCAT_TIP_KEYBOARD, &active)) &&
      active.langid == LOWORD(reinterpret_cast<std::uintptr_t>(hkl_)))
    kind = active.dwProfileType == TF_PROFILETYPE_INPUTPROCESSOR ? InputProfile::Kind::kTextService
                                                                 : InputProfile::Kind::kLayout;
  return InputProfileOf(focus_, hkl_, kind);
}

std::size_t Win32Keyboard::Inject(std::span<const KeyEvent> events) {
  if (events.empty()) return 0;
  std::vector<INPUT> inputs;
  inputs.reserve(events.size());
  for (const auto& e : events) inputs.push_back(ToInput(e));
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  if (sent < inputs.size()) {
    const DWORD error = GetLastError();
    DebugLine("Tarvik: SendInput inserted " + std::to_string(sent) + " of " +
              std::to_string(inputs.size()) + " key events, error " + std::to_string(error));
  }
  return sent;
}

}  // namespace tarvik::win
