// Small seams of the main window beyond its controls: its timers, sound, and
// text decoding in the system's code page.
#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace tarvik {

class ITimer {
 public:
  virtual ~ITimer() = default;
  // Enabling (re)starts the interval.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

class ISound {
 public:
  virtual ~ISound() = default;
  // Plays a sound file and returns when it has ended; a missing file plays
  // the system's default sound. Failures are not reported.
  virtual void PlayFile(const std::string& path) = 0;
};

// Bytes in the system's ANSI code page to UTF-8 text. The bytes passed are
// whole characters: the caller cuts lines at 0x0A, which is never part of
// another character in any ANSI code page.
class ITextDecoder {
 public:
  virtual ~ITextDecoder() = default;
  virtual std::string Decode(std::span<const std::uint8_t> bytes) const = 0;
};

}  // namespace tarvik
