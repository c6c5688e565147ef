#include "link/address.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "core/trim.h"

namespace tarvik {
namespace {

// Windows numbers its serial ports COM1 to COM255.
constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 255;

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

template <typename T>
bool ParseNumber(std::string_view s, T& out, int base = 10) {
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<BluetoothAddress> ParseBluetooth(std::string_view t) {
  std::uint64_t v = 0;
  int digits = 0;
  const bool separated = t.size() == 17;
  if (!separated && t.size() != 12) return std::nullopt;
  for (size_t i = 0; i < t.size(); ++i) {
    if (separated && i % 3 == 2) {
      if (t[i] != ':' && t[i] != '-') return std::nullopt;
      continue;
    }
    const int d = HexDigit(t[i]);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<unsigned>(d);
    ++digits;
  }
  if (digits != 12) return std::nullopt;
  return BluetoothAddress{v};
}

// ":9600" or ":9600:rtscts" after a serial port's name, which ends at `colon`
// (npos: nothing follows it).
bool ParseLineSettings(std::string_view text, size_t colon, SerialAddress& a) {
  if (colon == std::string_view::npos) return true;
  std::string_view speed = text.substr(colon + 1);
  const auto second = speed.find(':');
  if (second != std::string_view::npos) {
    const std::string_view flow = speed.substr(second + 1);
    if (IEquals(flow, "rtscts")) a.flow = FlowControl::kRtsCts;
    else if (IEquals(flow, "xonxoff")) a.flow = FlowControl::kXonXoff;
    else return false;
    speed = speed.substr(0, second);
  }
  return ParseNumber(speed, a.baud) && a.baud != 0;
}

}  // namespace

std::string_view StripParentheses(std::string_view text) {
  if (text.size() >= 2 && text.front() == '(' && text.back() == ')')
    return text.substr(1, text.size() - 2);
  return text;
}

std::optional<ReaderAddress> ParseReaderAddress(std::string_view text) {
  const std::string_view t = Trim(text);
  if (t.size() > 6 && IEquals(t.substr(0, 6), "tcp://")) {
    const std::string_view rest = t.substr(6);
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::uint16_t port = 0;
    if (!ParseNumber(rest.substr(colon + 1), port) || port == 0) return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);  // [::1]
    return TcpAddress{std::string(host), port};
  }
  if (t.size() > 3 && IEquals(t.substr(0, 3), "COM")) {
    const std::string_view rest = t.substr(3);
    const auto colon = rest.find(':');
    SerialAddress a;
    if (!ParseNumber(rest.substr(0, colon), a.port) || a.port < kFirstComPort || a.port > kLastComPort ||
        !ParseLineSettings(rest, colon, a))
      return std::nullopt;
    return a;
  }
  if (t.size() > 1 && t.front() == '/') {
    const auto colon = t.find(':');
    SerialAddress a;
    a.path = t.substr(0, colon);
    if (a.path.size() < 2 || !ParseLineSettings(t, colon, a)) return std::nullopt;
    return a;
  }
  if (auto bt = ParseBluetooth(t)) return *bt;
  return std::nullopt;
}

std::string FormatBluetoothAddress(std::uint64_t v) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X",
                static_cast<unsigned>((v >> 40) & 0xFF), static_cast<unsigned>((v >> 32) & 0xFF),
                static_cast<unsigned>((v >> 24) & 0xFF), static_cast<unsigned>((v >> 16) & 0xFF),
                static_cast<unsigned>((v >> 8) & 0xFF), static_cast<unsigned>(v & 0xFF));
  return buf;
}

std::optional<Guid> ParseGuid(std::string_view text) {
  std::string_view t = Trim(text);
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
    return std::nullopt;
  Guid g;
  if (!ParseNumber(t.substr(0, 8), g.data1, 16) || !ParseNumber(t.substr(9, 4), g.data2, 16) ||
      !ParseNumber(t.substr(14, 4), g.data3, 16))
    return std::nullopt;
  const std::string_view tail[2] = {t.substr(19, 4), t.substr(24, 12)};
  int k = 0;
  for (auto part : tail)
    for (size_t i = 0; i < part.size(); i += 2) {
      const int hi = HexDigit(part[i]), lo = HexDigit(part[i + 1]);
      if (hi < 0 || lo < 0) return std::nullopt;
      g.data4[k++] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
  return g;
}

}  // namespace tarvik
