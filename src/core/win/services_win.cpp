#include "core/win/services_win.h"

#include <mmsystem.h>

#include <string>

#include "core/win/text_win.h"

namespace tarvik::win {

void WindowTimer::SetEnabled(bool enabled) {
  // SetTimer with the same id replaces the timer: enabling restarts the interval.
  if (enabled) {
    enabled_ = SetTimer(hwnd_, id_, interval_, nullptr) != 0;
  } else if (enabled_) {
    KillTimer(hwnd_, id_);
    enabled_ = false;
  }
}

void Win32Sound::PlayFile(const std::string& path) {
  // Synchronous: returns when the sound has ended. Without SND_NODEFAULT a
  // missing file plays the system's default sound.
  PlaySoundA(path.c_str(), nullptr, SND_FILENAME);
}

std::string AnsiCodePage::Decode(std::span<const std::uint8_t> bytes) const {
  if (bytes.empty()) return {};
  const auto* in = reinterpret_cast<const char*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, in, length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, in, length, wide.data(), n);
  return Narrow(wide);
}

}  // namespace tarvik::win

namespace tarvik::win {

std::string AnsiCodePage::Encode(std::string_view utf8) const {
  const std::wstring wide = Widen(utf8);
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace tarvik::win
