// wclBluetoothDiscovery on Windows: the local radios and an inquiry for
// devices in range. The Bluetooth functions are looked up at run time in
// bthprops.cpl: a system without them has no Bluetooth API, which is what
// the program tells the user, rather than an exe that will not start.
#pragma once
#include <memory>

#include "link/wireless.h"
#include "core/win/unique_any.h"

namespace tarvik::win {

class Win32Discovery : public wclBluetoothDiscovery {
 public:
  Win32Discovery();  // throws std::runtime_error when its window cannot be made
  ~Win32Discovery() override;
  Win32Discovery(const Win32Discovery&) = delete;
  Win32Discovery& operator=(const Win32Discovery&) = delete;

  std::int32_t ListRadios(std::vector<Radio>& radios) override;
  // timeout: the inquiry's length in units of 1.28 s (at most 48).
  std::int32_t Discover(const Radio& radio, std::uint8_t timeout, std::uint32_t flags) override;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  UniqueHwnd hwnd_;
  bool running_ = false;
};

}  // namespace tarvik::win
