// pelrin.ini: eight lines, twelve fields, in the system's code page, each line
// ended by CR LF. The layout is a contract with files earlier versions wrote.
//   1 BeepOnRead            5 PrefixKey,PrefixRepeat
//   2 ReaderFeedback        6 Suffix1Key,Suffix1Repeat
//   3 "DeviceAddress"       7 Suffix2Key,Suffix2Repeat
//   4 HiddenNumber,CharDelay 8 TimeoutMinutes
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// The eleven numbers in file order, without the address.
enum Field : int {
  kBeepOnRead, kReaderFeedback, kHiddenNumber, kCharDelay, kPrefixKey, kPrefixRepeat,
  kSuffix1Key, kSuffix1Repeat, kSuffix2Key, kSuffix2Repeat, kTimeoutMinutes, kFieldCount
};

struct SettingsValues {
  std::array<std::int16_t, kFieldCount> numbers{};
  std::string address;  // in the file's code page
};

// What a load could read: a field that could not be read is empty.
struct ParsedSettings {
  std::array<std::optional<std::int16_t>, kFieldCount> numbers;
  std::optional<std::string> address;
};

// The file's bytes. An address is written unchanged between double quotes;
// a double quote or line break in it could not be read back, so those are
// left out.
std::string FormatSettings(const SettingsValues& values);

// Reads a file in this layout. Each line is read on its own, so a damaged or
// missing field costs that field only. Spaces around fields are allowed, an
// unquoted address is taken as it stands, anything after the twelfth field
// or past a line's fields is ignored. Ranges are the caller's to check.
ParsedSettings ParseSettings(std::string_view bytes);

// Longest file and address read; past them a field counts as unreadable.
inline constexpr std::size_t kMaxSettingsFileBytes = 64 * 1024;
inline constexpr std::size_t kMaxAddressBytes = 1024;

}  // namespace tarvik
