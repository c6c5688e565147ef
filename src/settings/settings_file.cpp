#include "settings/settings_file.h"

#include <charconv>
#include <vector>

#include "core/trim.h"

namespace tarvik {
namespace {

// Fields lose spaces and tabs around them, nothing else.
std::string_view TrimBlanks(std::string_view t) { return Trim(t, " \t"); }

std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size() && lines.size() < 8; ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.push_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (lines.size() < 8 && start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

// A line's comma-separated fields; a field that opens with a double quote
// runs to the next one.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t start = i;
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? line.size() : close + 1;
      out.push_back(line.substr(start, end - start));
      i = end;
      const std::size_t comma = line.find(',', i);
      if (comma == std::string_view::npos) break;
      i = comma + 1;
      continue;
    }
    const std::size_t comma = line.find(',', i);
    out.push_back(TrimBlanks(line.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                : comma - start)));
    if (comma == std::string_view::npos) break;
    i = comma + 1;
  }
  return out;
}

std::optional<std::int16_t> Number(std::string_view field) {
  field = TrimBlanks(field);
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
    field = TrimBlanks(field.substr(1, field.size() - 2));
  std::int16_t v = 0;
  const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
  if (field.empty() || r.ec != std::errc() || r.ptr != field.data() + field.size()) return std::nullopt;
  return v;
}

std::optional<std::string> Address(std::string_view field) {
  field = TrimBlanks(field);
  if (field.empty()) return std::string();
  if (field.front() == '"') {
    // An address whose closing quote is missing is not unambiguous.
    if (field.size() < 2 || field.back() != '"') return std::nullopt;
    field = field.substr(1, field.size() - 2);
  }
  // Nor is one with a quote inside: a save could not write it back as it
  // was read, and the window would use another address than the file holds.
  if (field.find('"') != std::string_view::npos) return std::nullopt;
  if (field.size() > kMaxAddressBytes) return std::nullopt;
  return std::string(field);
}

}  // namespace

std::string FormatSettings(const SettingsValues& v) {
  const auto n = [&](Field f) { return std::to_string(v.numbers[f]); };
  std::string address;
  for (char c : v.address)
    if (c != '"' && c != '\r' && c != '\n') address += c;
  std::string out;
  out += n(kBeepOnRead) + "\r\n";
  out += n(kReaderFeedback) + "\r\n";
  out += "\"" + address + "\"\r\n";
  out += n(kHiddenNumber) + "," + n(kCharDelay) + "\r\n";
  out += n(kPrefixKey) + "," + n(kPrefixRepeat) + "\r\n";
  out += n(kSuffix1Key) + "," + n(kSuffix1Repeat) + "\r\n";
  out += n(kSuffix2Key) + "," + n(kSuffix2Repeat) + "\r\n";
  out += n(kTimeoutMinutes) + "\r\n";
  return out;
}

ParsedSettings ParseSettings(std::string_view bytes) {
  ParsedSettings p;
  if (bytes.size() > kMaxSettingsFileBytes) bytes = bytes.substr(0, kMaxSettingsFileBytes);
  const auto lines = Lines(bytes);
  auto field = [&](std::size_t line, std::size_t index) -> std::optional<std::string_view> {
    if (line >= lines.size()) return std::nullopt;
    const auto f = Fields(lines[line]);
    if (index >= f.size()) return std::nullopt;
    return f[index];
  };
  auto number = [&](std::size_t line, std::size_t index) -> std::optional<std::int16_t> {
    const auto f = field(line, index);
    return f ? Number(*f) : std::nullopt;
  };
  p.numbers[kBeepOnRead] = number(0, 0);
  p.numbers[kReaderFeedback] = number(1, 0);
  if (lines.size() > 2) {
    const auto f = Fields(lines[2]);
    p.address = f.empty() ? std::optional<std::string>(std::string()) : Address(f[0]);
  }
  p.numbers[kHiddenNumber] = number(3, 0);
  p.numbers[kCharDelay] = number(3, 1);
  p.numbers[kPrefixKey] = number(4, 0);
  p.numbers[kPrefixRepeat] = number(4, 1);
  p.numbers[kSuffix1Key] = number(5, 0);
  p.numbers[kSuffix1Repeat] = number(5, 1);
  p.numbers[kSuffix2Key] = number(6, 0);
  p.numbers[kSuffix2Repeat] = number(6, 1);
  p.numbers[kTimeoutMinutes] = number(7, 0);
  return p;
}

}  // namespace tarvik
