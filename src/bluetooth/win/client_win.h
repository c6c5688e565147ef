// wclClient on Windows. The address picks the transport: a Bluetooth address
// is an RFCOMM socket to the service, "COMn" a serial port, "tcp://h:p" a
// network reader. Every event is delivered through a message-only window, so
// handlers run on the user-interface thread while it processes messages.
#pragma once
#include <memory>

#include "bluetooth/address.h"
#include "bluetooth/wireless.h"
#include "common/win/unique_any.h"

#include <ws2tcpip.h>

namespace tarvik::win {

class SerialLink;

class Win32Client : public wclClient {
 public:
  // Throws std::runtime_error when its window cannot be made.
  Win32Client();
  ~Win32Client() override;
  Win32Client(const Win32Client&) = delete;
  Win32Client& operator=(const Win32Client&) = delete;

  std::int32_t Connect() override;
  std::uint32_t State() const override { return state_; }
  std::int32_t Write(std::span<const std::uint8_t> bytes) override;
  void Disconnect() override;

  enum : std::uint32_t { kIdle = 0, kConnecting = 1, kOpen = 2 };

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  std::int32_t StartSocket(int family, int type, int protocol, const sockaddr* to, int length);
  void OnSocket(SOCKET s, WORD event, WORD error);
  void OnResolved(std::uint32_t generation, ADDRINFOW* list, int error);
  void ConnectFailed(std::int32_t error);  // raises OnConnect now
  void Dropped();                          // an open link closed on its own
  void CloseTransport();
  void RaiseData(std::vector<std::uint8_t> bytes);

  HWND hwnd_ = nullptr;
  UniqueSocket socket_;
  std::unique_ptr<SerialLink> serial_;
  std::uint32_t state_ = kIdle;
  // Messages about an earlier link or attempt carry an older number and are
  // dropped.
  std::uint32_t generation_ = 0;
};

}  // namespace tarvik::win
