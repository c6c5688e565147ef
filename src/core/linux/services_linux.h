// The window's timers, sound and code page on Linux.
#pragma once
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/services.h"

struct ca_context;

namespace tarvik::lnx {

// A repeating timer of the Qt event loop; each tick runs `onTick`.
class QtTimer : public ITimer {
 public:
  QtTimer(std::chrono::milliseconds interval, std::function<void()> onTick);
  void SetEnabled(bool enabled) override;
  bool Enabled() const { return timer_.isActive(); }

 private:
  QTimer timer_;
  std::function<void()> onTick_;
};

// Plays a WAV file through the desktop's sound server with libcanberra
// (PulseAudio, PipeWire's PulseAudio side, else ALSA), on X11 and Wayland
// alike, and waits for it to end, as the program did on Windows. A missing
// file, or no sound server or device, is the standard beep. The wait is
// capped, so a sound that never ends cannot hold up the program for good.
class DesktopSound : public ISound {
 public:
  DesktopSound();
  ~DesktopSound() override;
  DesktopSound(const DesktopSound&) = delete;
  DesktopSound& operator=(const DesktopSound&) = delete;
  // False, after the standard beep, when the file could not be played.
  bool Play(const std::string& path);
  void PlayFile(const std::string& path) override { Play(path); }

  static constexpr std::chrono::milliseconds kLongestSound{10000};

 private:
  struct Ends;
  std::unique_ptr<Ends> ends_;
  ca_context* context_ = nullptr;
  std::uint32_t lastId_ = 0;
};

// The standard beep: the sound theme's bell, or the display's own bell where
// the theme or the sound server is missing.
void DesktopBeep();

// Readers and the settings files of earlier versions write Windows-1252
// (Western European): the code page of the Windows systems the program
// came from. Characters outside it go to the reader and the file as "?".
class Cp1252CodePage : public ICodePage {
 public:
  std::string Decode(std::span<const std::uint8_t> bytes) const override;
  std::string Encode(std::string_view utf8) const override;
};

}  // namespace tarvik::lnx
