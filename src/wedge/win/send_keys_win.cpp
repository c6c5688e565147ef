#include "wedge/win/send_keys_win.h"

#include <string>
#include <vector>

#include "common/win/text_win.h"

#ifndef MAPVK_VK_TO_VSC_EX
#define MAPVK_VK_TO_VSC_EX 4
#endif

namespace tarvik::win {

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
  // Flag 4 (Windows 10 1607 on) leaves the kernel's dead-key state alone, so
  // asking about a dead key does not change what the user types next.
  const int n = ToUnicodeEx(s.vk, ScanCode(s.vk) & 0xFF, state, buf, 8, 0x4, hkl_);
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

HKL FocusedWindowLayout() {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  HWND target = nullptr;
  if (GetGUIThreadInfo(0, &info)) target = info.hwndFocus ? info.hwndFocus : info.hwndActive;
  if (!target) target = GetForegroundWindow();
  const DWORD thread = target ? GetWindowThreadProcessId(target, nullptr) : 0;
  return GetKeyboardLayout(thread);
}

bool CapsLockOn() {
  // Our thread's own copy of the key state: the system brings a thread's
  // copy up to date for keys whose messages it never read, so a program in
  // the tray sees the user's Caps Lock. (Wine 8 does so only for threads
  // that existed when the key was pressed.) Not through AttachThreadInput
  // to the focused thread: attaching resets key state, and was seen to drop
  // that thread's Shift in the middle of a character.
  return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

KeyboardState CurrentKeyboardState() {
  KeyboardState st;
  for (int v : {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LWIN, VK_RWIN})
    if (GetAsyncKeyState(v) & 0x8000) st.held.push_back(static_cast<std::uint8_t>(v));
  return st;
}

namespace {

INPUT ToInput(const KeyEvent& e) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = e.vk;
  in.ki.wScan = e.scan;
  if (e.role == KeyEvent::Role::Unicode) in.ki.dwFlags |= KEYEVENTF_UNICODE;
  if (e.extended) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  if (e.up) in.ki.dwFlags |= KEYEVENTF_KEYUP;
  return in;
}

}  // namespace

unsigned SendPlan(const KeyPlan& plan) {
  if (plan.events.empty()) return 0;
  std::vector<INPUT> inputs;
  inputs.reserve(plan.events.size());
  for (const auto& e : plan.events) inputs.push_back(ToInput(e));
  // One call for the whole character, so that keys the user types cannot
  // fall between our modifier and our key.
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  if (sent < inputs.size()) {
    const DWORD error = GetLastError();
    DebugLine("SendInput inserted " + std::to_string(sent) + " of " + std::to_string(inputs.size()) +
              " key events, error " + std::to_string(error));
    std::vector<INPUT> releases;
    for (const auto& e : ReleasesAfterPartialSend(plan, sent)) releases.push_back(ToInput(e));
    if (!releases.empty())
      SendInput(static_cast<UINT>(releases.size()), releases.data(), sizeof(INPUT));
  }
  return sent;
}

void Win32KeySender::BeginRecord() { capsLock_ = CapsLockOn(); }

void Win32KeySender::SendKeyTokens(std::string_view token) {
  const Win32KeyboardLayout layout(FocusedWindowLayout());
  KeyboardState state = CurrentKeyboardState();
  state.capsLock = capsLock_;
  SendPlan(PlanKeyTokens(token, layout, state));
}

}  // namespace tarvik::win
