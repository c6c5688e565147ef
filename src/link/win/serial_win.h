// An open serial port and the thread that serves it. A serial port cannot
// signal its input as a window message, so one thread per port does the
// overlapped reads and writes; each chunk read is posted to the client's
// window, and writes never hold up the window.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "link/address.h"
#include "core/win/handover_win.h"
#include "core/win/unique_any.h"

namespace tarvik::win {

// Messages the port's thread posts: wParam the link's generation, lParam a
// parcel of std::vector<uint8_t> (data), or the system error (lost).
inline constexpr UINT kSerialDataMsg = kFirstParcelMsg + 0x10;
inline constexpr UINT kSerialLostMsg = WM_APP + 12;
// The open's result: a parcel of SerialOpenResult.
inline constexpr UINT kSerialOpenedMsg = kFirstParcelMsg + 0x11;

struct SerialOpenResult {
  UniqueFile port;  // none when the open failed
  DWORD error = 0;
};

// Opens \\.\COMn on a thread of its own (the open of a paired reader's port
// performs the radio connect and blocks for seconds), configures it with
// ConfigurePort and posts kSerialOpenedMsg with the result.
void OpenSerialPortAsync(HWND notify, std::uint32_t generation, const SerialAddress& address);

// Sets every line setting of an open port that matters, whatever another
// program left there: the address's speed, 8 data bits, no parity, one stop
// bit, the address's flow control and nothing else that could drop or alter
// bytes; reads that end shortly after a burst; no write timeout. 0 or the
// system's error.
DWORD ConfigurePort(HANDLE port, const SerialAddress& address);

class SerialLink {
 public:
  // Takes the port (opened for overlapped I/O) and starts its thread. Throws
  // std::runtime_error when the thread's events cannot be made.
  SerialLink(HANDLE port, HWND notify, std::uint32_t generation);
  ~SerialLink();  // stops the port's thread and closes the port
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Queues the bytes for the port's thread, which writes them in order. Never
  // blocks the caller (the window): a port held up by flow control or a slow
  // driver must not freeze the program. Returns 0, or the system's error if
  // the link has already failed. A later write failure arrives as
  // kSerialLostMsg.
  std::int32_t Write(std::span<const std::uint8_t> bytes);

  // True when a WM_DEVICECHANGE (wParam, lParam) says the device behind this
  // port is going or gone. The owner then closes the link so that the
  // device can leave.
  bool IsRemovalNotice(WPARAM wp, LPARAM lp) const;

 private:
  void Run(HWND notify, std::uint32_t generation);
  // Swaps the queued bytes into `out` (which is emptied first).
  void TakeQueued(std::vector<std::uint8_t>& out);
  void Fail(HWND notify, std::uint32_t generation, DWORD error, const wchar_t* attempted);

  UniqueFile port_;
  UniqueDeviceNotification removal_;  // released before port_ closes
  UniqueHandle stop_;
  UniqueHandle queuedEvent_;  // set when Write adds bytes
  std::mutex mutex_;
  std::vector<std::uint8_t> queued_;  // guarded by mutex_
  std::atomic<DWORD> failure_{0};     // the error that ended the link; 0 while it works
  std::thread thread_;
};

}  // namespace tarvik::win
