// Small seams of the main window beyond its controls: its timers, sound, the
// files the program keeps in its folder, and text decoding in the system's
// code page.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tarvik {

class ITimer {
 public:
  virtual ~ITimer() = default;
  // Enabling (re)starts the interval.
  virtual void SetEnabled(bool enabled) = 0;
};

class ISound {
 public:
  virtual ~ISound() = default;
  // Plays a sound file and returns when it has ended; a missing file plays
  // the system's default sound. Failures are not reported.
  virtual void PlayFile(const std::string& path) = 0;
};

// The full path of a file by its name (beep1.wav) in the folder the program
// keeps it in: the Windows directory on Windows, the settings folder on Linux.
using ProgramFile = std::function<std::string(std::string_view name)>;

// The system's ANSI code page, in which the reader's bytes and the settings
// file are written; UTF-8 inside the program.
class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // The bytes passed are whole characters: lines are cut at 0x0A, which is
  // never part of another character in any ANSI code page.
  virtual std::string Decode(std::span<const std::uint8_t> bytes) const = 0;
  // Characters the code page lacks become its default character.
  virtual std::string Encode(std::string_view utf8) const = 0;
};

}  // namespace tarvik
