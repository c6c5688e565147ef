// The window's timers, sound and code page on Linux.
#pragma once
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>

#include "core/services.h"

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

// Plays a WAV file through the desktop's own command-line player (paplay
// for PulseAudio and PipeWire, else pw-play or ALSA's aplay) and waits for it to end,
// as the program did on Windows. A missing file, or no player, is the
// standard beep. The wait is capped, so a player stuck on a busy sound
// device cannot hold up the program for good.
class PlayerSound : public ISound {
 public:
  PlayerSound();
  void PlayFile(const std::string& path) override;
  // The player found at start; empty when there is none.
  const std::string& Player() const { return player_; }

  static constexpr std::chrono::milliseconds kLongestSound{10000};

 private:
  std::string player_;
  bool quietFlag_ = false;  // aplay talks unless told not to
};

// The logic joins a folder and a file name with a backslash, as Windows
// paths go; here that separator is a slash.
std::string LocalPath(const std::string& path);

// Readers and the settings files of earlier versions write Windows-1252
// (Western European): the code page of the Windows systems the program
// came from. Characters outside it go to the reader and the file as "?".
class Cp1252CodePage : public ICodePage {
 public:
  std::string Decode(std::span<const std::uint8_t> bytes) const override;
  std::string Encode(std::string_view utf8) const override;
};

}  // namespace tarvik::lnx
