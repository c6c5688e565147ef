// wclClient on Windows: the portable LinkClient over Win32. The address picks
// the transport: a Bluetooth address is an RFCOMM socket to the service,
// "COMn" a serial port, "tcp://h:p" a network reader. Every event is
// delivered through a message-only window, so handlers run on the
// user-interface thread while it processes messages.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "link/link_client.h"
#include "core/win/unique_any.h"

#include <ws2tcpip.h>

namespace tarvik::win {

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

class Win32Client;

// The client's message window as its event loop, with one timer.
class LinkWindow : public ILinkLoop {
 public:
  // Throws std::runtime_error when the window cannot be made.
  LinkWindow();
  void Post(std::function<void()> work) override;
  void StartTimer(std::chrono::milliseconds after, std::function<void()> done) override;
  void StopTimer() override;

 protected:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Fire();

  UniqueHwnd hwnd_;
  Win32Client* owner_ = nullptr;  // while it lives
  std::function<void()> done_;
};

class Win32Client : private LinkWindow, public LinkClient {
 public:
  explicit Win32Client(Resolver resolver = &ResolveHost);
  ~Win32Client() override;

  // The socket of an open network or Bluetooth link (tests read its options).
  SOCKET Socket() const;

 private:
  friend class LinkWindow;
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  std::unique_ptr<ILinkTransport> Make(const ReaderAddress& address, const LinkParameters& parameters,
                                       ILinkEvents& events, std::int32_t& error);

  Resolver resolver_;
  std::uint32_t made_ = 0;  // transports made: each tags the messages about it
};

}  // namespace tarvik::win
