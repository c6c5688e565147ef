// Reader addresses. The text picks the transport:
//   "00:1A:7D:DA:71:13" or "001A7DDA7113"  Bluetooth RFCOMM to the service
//   "COM5", "COM12:115200", "COM3:9600:rtscts"
//   "/dev/ttyUSB0", "/dev/rfcomm0", "/dev/ttyACM0:115200:xonxoff"
//                                           a serial port by number or by path: 9600 8N1
//                                           and no flow control unless given (rtscts or
//                                           xonxoff); a path runs to the first ":"
//   "tcp://HOST:PORT"                       a network reader
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarvik {

struct BluetoothAddress {
  std::uint64_t value = 0;  // 48 bits, most significant byte first in the text
  bool operator==(const BluetoothAddress&) const = default;
};
enum class FlowControl { kNone, kRtsCts, kXonXoff };
struct SerialAddress {
  int port = 0;  // COMn; 0 for a port given by path
  std::uint32_t baud = 9600;
  FlowControl flow = FlowControl::kNone;
  std::string path{};  // "/dev/ttyUSB0"; empty for COMn
  bool operator==(const SerialAddress&) const = default;
};
struct TcpAddress {
  std::string host;
  std::uint16_t port = 0;
  bool operator==(const TcpAddress&) const = default;
};
using ReaderAddress = std::variant<BluetoothAddress, SerialAddress, TcpAddress>;

// Parses the text between the parentheses; surrounding spaces are ignored.
std::optional<ReaderAddress> ParseReaderAddress(std::string_view text);
// "00:1A:7D:DA:71:13".
std::string FormatBluetoothAddress(std::uint64_t value);
// Strips one "(" and ")" around the text, as the link parameters carry it.
std::string_view StripParentheses(std::string_view text);

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0, data3 = 0;
  std::uint8_t data4[8] = {};
  bool operator==(const Guid&) const = default;
};
// "{00001101-0000-1000-8000-00805F9B34FB}", braces optional.
std::optional<Guid> ParseGuid(std::string_view text);

}  // namespace tarvik
