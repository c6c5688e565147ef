// An open serial port and the thread that reads it. Overlapped reads on a
// thread of their own, because a serial read cannot be signalled as a window
// message; each chunk is posted to the client's window.
#pragma once
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "common/win/unique_any.h"

namespace tarvik::win {

// Messages the reader posts: wParam the link's generation, lParam a
// heap-allocated std::vector<uint8_t> the receiver deletes (data), or the
// system error (lost).
inline constexpr UINT kSerialDataMsg = WM_APP + 11;
inline constexpr UINT kSerialLostMsg = WM_APP + 12;
// The open's result: lParam a heap-allocated SerialOpenResult.
inline constexpr UINT kSerialOpenedMsg = WM_APP + 13;

struct SerialOpenResult {
  HANDLE port = INVALID_HANDLE_VALUE;  // owned by the receiver
  DWORD error = 0;
};

// Opens \\.\COMn on a thread of its own (the open of a paired reader's port
// performs the radio connect and blocks for seconds) and posts the result.
void OpenSerialPortAsync(HWND notify, std::uint32_t generation, int port, std::uint32_t baud);

class SerialLink {
 public:
  SerialLink(HANDLE port, HWND notify, std::uint32_t generation);
  ~SerialLink();  // stops the reader and closes the port
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // 0 or the system's error.
  std::int32_t Write(std::span<const std::uint8_t> bytes);

 private:
  void ReadLoop(HWND notify, std::uint32_t generation);

  UniqueFile port_;
  UniqueHandle stop_;
  std::thread reader_;
};

}  // namespace tarvik::win
