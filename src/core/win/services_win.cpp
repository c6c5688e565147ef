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
  return Narrow(FromCodePage(
      CP_ACP, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

}  // namespace tarvik::win

namespace tarvik::win {

std::string AnsiCodePage::Encode(std::string_view utf8) const {
  return ToCodePage(CP_ACP, Widen(utf8));
}

}  // namespace tarvik::win
