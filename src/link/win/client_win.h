// wclClient on Windows. The address picks the transport: a Bluetooth address
// is an RFCOMM socket to the service, "COMn" a serial port, "tcp://h:p" a
// network reader. Every event is delivered through a message-only window, so
// handlers run on the user-interface thread while it processes messages.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/address.h"
#include "link/address_walk.h"
#include "link/wireless.h"
#include "link/write_queue.h"
#include "core/win/unique_any.h"

#include <ws2tcpip.h>

namespace tarvik::win {

class SerialLink;

// One address a host name resolved to.
struct Endpoint {
  int family = 0, type = 0, protocol = 0;
  sockaddr_storage address{};
  int length = 0;
};
// Looks a host name up (on a thread of its own; it may take seconds):
// 0 and the addresses in the system's order, or the system's error.
using Resolver = std::function<int(const std::string& host, std::uint16_t port, std::vector<Endpoint>& out)>;
int ResolveHost(const std::string& host, std::uint16_t port, std::vector<Endpoint>& out);

// TCP keep-alive: a reader that loses power or its network never sends a
// close; with probes after 10 s of silence, a second apart (Windows sends
// ten), the link is seen dropped within about 20 s.
inline constexpr ULONG kKeepAliveIdleMs = 10000;
inline constexpr ULONG kKeepAliveIntervalMs = 1000;
// An address that has not answered in this time gives way to the next one;
// the last address gets the system's own time.
inline constexpr UINT kAddressTimeoutMs = 5000;

class Win32Client : public wclClient {
 public:
  // Throws std::runtime_error when its window cannot be made.
  explicit Win32Client(Resolver resolver = &ResolveHost);
  ~Win32Client() override;
  Win32Client(const Win32Client&) = delete;
  Win32Client& operator=(const Win32Client&) = delete;

  std::int32_t Connect() override;
  std::uint32_t State() const override { return state_; }
  std::int32_t Write(std::span<const std::uint8_t> bytes) override;
  void Disconnect() override;
  std::int32_t DropReason() const override { return dropReason_; }

  enum : std::uint32_t { kIdle = 0, kConnecting = 1, kOpen = 2 };
  // The socket of an open network or Bluetooth link (tests read its options).
  SOCKET Socket() const { return socket_.get(); }
  // Bytes written that the socket has not taken yet.
  std::size_t Waiting() const { return queue_.Waiting(); }

 private:
  class SocketSink;
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  std::int32_t StartSocket(int family, int type, int protocol, const sockaddr* to, int length);
  std::int32_t StartEndpoint(std::size_t index);
  void OnSocket(SOCKET s, WORD event, WORD error);
  void OnResolved(std::uint32_t generation, int error, std::vector<Endpoint> endpoints);
  void AddressFailed(std::int32_t error);
  void ConnectFailed(std::int32_t error);  // raises OnConnect now
  void Opened();
  void Dropped(std::int32_t reason);  // an open link closed on its own
  void LinkFailed(std::int32_t error);  // a write found the link dead: dropped soon after
  void CloseTransport();
  void RaiseData(std::vector<std::uint8_t> bytes);

  Resolver resolver_;
  UniqueHwnd hwnd_;
  UniqueSocket socket_;
  std::unique_ptr<SerialLink> serial_;
  std::vector<Endpoint> endpoints_;
  AddressWalk walk_;
  WriteQueue queue_;
  std::uint32_t state_ = kIdle;
  std::int32_t dropReason_ = 0;
  // Messages about an earlier link or attempt carry an older number and are
  // dropped.
  std::uint32_t generation_ = 0;
};

}  // namespace tarvik::win
