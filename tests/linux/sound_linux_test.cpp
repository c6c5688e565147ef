// Sounds through libcanberra's ALSA side, pointed at ALSA's file device: the
// samples of the WAV file land in a file; a missing file or no device ends
// the wait at once.
#include "core/linux/services_linux.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tarvik::lnx {
namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kRate = 8000, kSamples = 2000;  // a quarter second, 16-bit mono

void WriteWav(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out << "RIFF";
  u32(36 + kSamples * 2);
  out << "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(kRate), u32(kRate * 2), u16(2), u16(16);
  out << "data";
  u32(kSamples * 2);
  for (std::uint32_t i = 0; i < kSamples; ++i) u16(static_cast<std::uint16_t>(i % 64 * 512));
}

TEST(DesktopSound, PlaysTheFileToTheEndOrGivesUpAtOnce) {
  const fs::path dir = fs::temp_directory_path() / ("tarvik-sound-" + std::to_string(getpid()));
  fs::create_directories(dir);
  WriteWav(dir / "beep1.wav");
  struct Row {
    const char* device;  // the ALSA device libcanberra plays on
    const char* file;
    bool played;
  } rows[] = {
      {"file:FILE=@/out.raw,FORMAT=raw", "beep1.wav", true},
      // The standard beep instead, here on no device: nothing still plays
      // while the next row changes the environment.
      {"hw:77", "beep1.wav", false},  // no such sound card, as on a build machine
      {"file:FILE=@/out.raw,FORMAT=raw", "missing.wav", false},
  };
  for (const Row& row : rows) {
    std::string device = row.device;
    if (const auto at = device.find('@'); at != std::string::npos)
      device.replace(at, 1, dir.string());
    fs::remove(dir / "out.raw");
    setenv("CANBERRA_DRIVER", "alsa", 1);
    setenv("CANBERRA_DEVICE", device.c_str(), 1);
    DesktopSound sound;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sound.Play((dir / row.file).string()), row.played) << device << " " << row.file;
    EXPECT_LT(std::chrono::steady_clock::now() - start, DesktopSound::kLongestSound / 2) << device;
    if (row.played) {
      EXPECT_GE(fs::file_size(dir / "out.raw"), kSamples * 2);
    }
  }
  unsetenv("CANBERRA_DRIVER");
  unsetenv("CANBERRA_DEVICE");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarvik::lnx
