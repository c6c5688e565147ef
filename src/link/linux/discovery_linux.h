// wclBluetoothDiscovery on Linux through Qt Bluetooth (BlueZ over D-Bus): the
// local adapters, and an inquiry for classic devices in range. A system
// without an adapter (or without bluetoothd) lists none, which is what the
// program tells the user. Events come from the event loop, never from
// within a call.
#pragma once
#include <QBluetoothAddress>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <memory>

#include "link/wireless.h"

class QBluetoothDeviceDiscoveryAgent;

namespace tarvik::lnx {

// The unit of Discover's timeout: an inquiry length of 1.28 s.
inline constexpr std::chrono::milliseconds kInquiryUnit{1280};
// Longest inquiry a radio takes, in those units.
inline constexpr std::uint8_t kLongestInquiry = 48;

// A local adapter, by its address.
class QtRadio : public IRadio {
 public:
  explicit QtRadio(const QBluetoothAddress& address) : address_(address) {}
  const QBluetoothAddress& address() const { return address_; }

 private:
  QBluetoothAddress address_;
};

class QtDiscovery : public wclBluetoothDiscovery {
 public:
  QtDiscovery();
  ~QtDiscovery() override;
  QtDiscovery(const QtDiscovery&) = delete;
  QtDiscovery& operator=(const QtDiscovery&) = delete;

  std::int32_t ListRadios(std::vector<Radio>& radios) override;
  // timeout: the inquiry's length in kInquiryUnit (at most kLongestInquiry).
  std::int32_t Discover(const Radio& radio, std::uint8_t timeout, std::uint32_t flags) override;

 private:
  void Complete(const Radio& radio, std::optional<DeviceList> devices);

  std::unique_ptr<QBluetoothDeviceDiscoveryAgent> agent_;
  std::uint32_t generation_ = 0;  // of the discovery under way
  // Last: destroyed first, taking the posted calls and connections with it.
  QObject context_;
};

}  // namespace tarvik::lnx
