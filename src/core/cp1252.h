// Windows-1252 (Western European) <-> UTF-8, from a table: the code page in
// which readers and earlier versions' settings files write text, for systems
// that have no such code page of their own.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvik {

// What a character outside the code page becomes.
inline constexpr char kCp1252Default = '?';

// Every byte is a character. The five bytes the code page leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same
// number, as Windows decodes them, so no byte is lost.
std::string DecodeCp1252(std::span<const std::uint8_t> bytes);
// One byte per character; a character the code page lacks, and each
// malformed UTF-8 byte, becomes kCp1252Default.
std::string EncodeCp1252(std::string_view utf8);

}  // namespace tarvik
