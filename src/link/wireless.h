// The wireless library's contract: a link to one reader (wclClient), the
// local radios and device discovery (wclBluetoothDiscovery), and the library
// manager that is opened first and closed last and receives every result
// code. Events arrive on the user-interface thread while it processes window
// events, never from another thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// A local radio. Copies refer to the same radio.
class IRadio {
 public:
  virtual ~IRadio() = default;
};
using Radio = std::shared_ptr<IRadio>;

struct LinkParameters {
  std::string address;  // the reader's address enclosed in "(" and ")"
  Radio radio;          // or none
  std::string service;  // the service class UUID as text with braces
};

class LibraryManager {
 public:
  virtual ~LibraryManager() = default;
  virtual std::int32_t Open() = 0;
  virtual std::int32_t Close() = 0;
  // Keeps recent result codes where a person diagnosing a problem can see
  // them; nothing in the program depends on it.
  virtual void ReportResult(std::int32_t code) = 0;
  // A result code in the system's words (this library's own codes in its own).
  virtual std::string Describe(std::int32_t code) const;
  // What the user can do about a serial port that failed to open with this
  // code, in sentences; empty where there is nothing the user can do.
  virtual std::string SerialAdvice(std::int32_t /*code*/) const { return {}; }
};

class wclClient {
 public:
  virtual ~wclClient() = default;
  LinkParameters Parameters;

  // Starts an attempt whose outcome arrives as OnConnect; the result code
  // says whether the attempt could start at all.
  virtual std::int32_t Connect() = 0;
  // 0: no link and no attempt under way; anything else: an attempt under
  // way or an open link.
  virtual std::uint32_t State() const = 0;
  // Bytes the link cannot take at once wait in order; the result is an
  // error only when the link has failed.
  virtual std::int32_t Write(std::span<const std::uint8_t> bytes) = 0;
  virtual void Disconnect() = 0;
  // Why the last open link closed: 0 when Disconnect closed it, else the
  // system's error or kClosedByPeer.
  virtual std::int32_t DropReason() const { return 0; }

  std::function<void(std::int32_t error)> OnConnect;  // 0: the link is open
  std::function<void(std::vector<std::uint8_t> buffer)> OnData;
  std::function<void()> OnDisconnect;  // an open link closed, from either side
};

// A device found by discovery.
class IDiscoveredDevice {
 public:
  virtual ~IDiscoveredDevice() = default;
  virtual std::string Address() const = 0;  // enclosed in parentheses
  // The device's name; the result code is 0 on success.
  virtual std::string ReadName(const Radio& radio, std::int32_t& result) const = 0;
};
using DeviceList = std::vector<std::shared_ptr<IDiscoveredDevice>>;

class wclBluetoothDiscovery {
 public:
  virtual ~wclBluetoothDiscovery() = default;
  // Fills `radios` with the local radios; 0 on success.
  virtual std::int32_t ListRadios(std::vector<Radio>& radios) = 0;
  virtual std::int32_t Discover(const Radio& radio, std::uint8_t timeout, std::uint32_t flags) = 0;

  std::function<void(const Radio&)> OnDiscoveryStarted;
  // Devices is none when the discovery failed.
  std::function<void(const Radio&, const std::optional<DeviceList>& devices)> OnDiscoveryComplete;
};

// Result codes of this library (negative, apart from the system's own
// Winsock and Win32 error numbers, which are passed on as they are).
namespace wcl {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kBadAddress = -2;
inline constexpr std::int32_t kBusy = -3;
inline constexpr std::int32_t kNotConnected = -4;
inline constexpr std::int32_t kNoRadio = -5;
inline constexpr std::int32_t kBufferOverflow = -6;
inline constexpr std::int32_t kLinkLost = -7;
inline constexpr std::int32_t kClosedByPeer = -8;

// The words for one of the codes above; empty for any other.
std::string Describe(std::int32_t code);
}  // namespace wcl

}  // namespace tarvik
