#include "link/win/client_win.h"

// <winsock2.h> comes first through unique_any.h; these need it.
#include <mstcpip.h>
#include <ws2bth.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "link/win/serial_win.h"
#include "core/guard.h"
#include "core/win/handover_win.h"
#include "core/win/message_window_win.h"
#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kClassName[] = L"TarvikLink";
constexpr UINT kSocketMsg = WM_APP + 1;
constexpr UINT kResolvedMsg = kFirstParcelMsg;  // a Resolved
constexpr UINT kConnectFailedMsg = WM_APP + 3;  // lParam: error
constexpr UINT kDisconnectedMsg = WM_APP + 4;
constexpr UINT kLinkFailedMsg = WM_APP + 5;     // wParam: generation, lParam: error
constexpr UINT_PTR kAddressTimer = 1;
// Bytes taken from the socket per read; more wait for the next.
constexpr std::size_t kReadChunk = 4096;
// Windows keeps sending ten probes; where it lets us say so (Windows 10 1703
// on), we say it too.
constexpr DWORD kKeepAliveProbes = 10;
#ifndef TCP_KEEPCNT
constexpr int TCP_KEEPCNT = 16;
#endif

struct Resolved {
  int error = 0;
  std::vector<Endpoint> endpoints;
};

// A lost keep-alive, a reset or a write into a dead link: all of them are
// reported by the next socket call; the FD_CLOSE that follows says why.
void EnableKeepAlive(SOCKET s) {
  const BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof(on));
  tcp_keepalive values{1, kKeepAliveIdleMs, kKeepAliveIntervalMs};
  DWORD returned = 0;
  if (WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof(values), nullptr, 0, &returned, nullptr,
               nullptr) == SOCKET_ERROR)
    DebugLine("Tarvik: keep-alive times not taken, error " + std::to_string(WSAGetLastError()));
  setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&kKeepAliveProbes),
             sizeof(kKeepAliveProbes));
}

}  // namespace

int ResolveHost(const std::string& host, std::uint16_t port, std::vector<Endpoint>& out) {
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* list = nullptr;
  const int error = GetAddrInfoW(Widen(host).c_str(), std::to_wstring(port).c_str(), &hints, &list);
  if (error != 0) return error;
  for (const ADDRINFOW* a = list; a; a = a->ai_next) {
    if (!a->ai_addr || a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Endpoint e;
    e.family = a->ai_family;
    e.type = a->ai_socktype;
    e.protocol = a->ai_protocol;
    std::memcpy(&e.address, a->ai_addr, a->ai_addrlen);
    e.length = static_cast<int>(a->ai_addrlen);
    out.push_back(e);
  }
  FreeAddrInfoW(list);
  return 0;
}

class Win32Client::SocketSink : public ILinkSink {
 public:
  explicit SocketSink(SOCKET s) : s_(s) {}
  Sent Send(std::span<const std::uint8_t> bytes) override {
    const int n = send(s_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
    if (n != SOCKET_ERROR) return {static_cast<std::size_t>(n), 0};
    const int error = WSAGetLastError();
    // Full for now: FD_WRITE says when it can take more.
    if (error == WSAEWOULDBLOCK) return {0, 0};
    return {0, error};
  }

 private:
  SOCKET s_;
};

Win32Client::Win32Client(Resolver resolver)
    : resolver_(std::move(resolver)),
      hwnd_(CreateMessageWindow(kClassName, &Win32Client::WndProc, this, L"the reader link")) {}

Win32Client::~Win32Client() {
  ++generation_;
  CloseTransport();
}

void Win32Client::CloseTransport() {
  KillTimer(hwnd_.get(), kAddressTimer);
  if (socket_) {
    // Notifications already queued for this socket would arrive after it is
    // gone, and the system may hand its number to the next one: take them
    // out of the queue now.
    WSAAsyncSelect(socket_.get(), hwnd_.get(), 0, 0);
    socket_.reset();
    MSG stale;
    while (PeekMessageW(&stale, hwnd_.get(), kSocketMsg, kSocketMsg, PM_REMOVE)) {
    }
  }
  serial_.reset();  // stops the port's thread
  queue_.Clear();
}

std::int32_t Win32Client::Connect() {
  if (state_ != kIdle) return wcl::kBusy;
  const auto address = ParseReaderAddress(StripParentheses(Parameters.address));
  if (!address) return wcl::kBadAddress;
  const std::uint32_t generation = ++generation_;
  endpoints_.clear();

  if (const auto* tcp = std::get_if<TcpAddress>(&*address)) {
    // Names are looked up on a thread of their own: a lookup can take seconds.
    std::thread([resolver = resolver_, notify = hwnd_.get(), generation, host = tcp->host, port = tcp->port] {
      RunOrStop("Looking the reader's host name up", [&] {
        Resolved r;
        r.error = resolver(host, port, r.endpoints);
        PostParcel(notify, kResolvedMsg, generation, std::move(r));
      });
    }).detach();
  } else if (const auto* serial = std::get_if<SerialAddress>(&*address)) {
    if (!serial->path.empty()) return wcl::kBadAddress;  // a Linux device path: no such port here
    OpenSerialPortAsync(hwnd_.get(), generation, *serial);
  } else {
    const auto& bt = std::get<BluetoothAddress>(*address);
    const auto service = ParseGuid(Parameters.service);
    if (!service) return wcl::kBadAddress;
    SOCKADDR_BTH to{};
    to.addressFamily = AF_BTH;
    to.btAddr = bt.value;
    to.serviceClassId.Data1 = service->data1;
    to.serviceClassId.Data2 = service->data2;
    to.serviceClassId.Data3 = service->data3;
    for (int i = 0; i < 8; ++i) to.serviceClassId.Data4[i] = service->data4[i];
    to.port = 0;  // the channel is found by the service lookup
    const std::int32_t r = StartSocket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM,
                                       reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (r != 0) return r;
  }
  state_ = kConnecting;
  return 0;
}

std::int32_t Win32Client::StartSocket(int family, int type, int protocol, const sockaddr* to,
                                      int length) {
  UniqueSocket s(socket(family, type, protocol));
  if (!s) return WSAGetLastError();
  // Asynchronous select makes the socket non-blocking: connect returns at
  // once and its outcome arrives as FD_CONNECT; FD_WRITE says when bytes
  // that had to wait can go.
  if (WSAAsyncSelect(s.get(), hwnd_.get(), kSocketMsg, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) ==
      SOCKET_ERROR)
    return WSAGetLastError();
  if (connect(s.get(), to, length) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
  }
  socket_ = std::move(s);
  return 0;
}

std::int32_t Win32Client::StartEndpoint(std::size_t index) {
  const Endpoint& e = endpoints_[index];
  const std::int32_t r =
      StartSocket(e.family, e.type, e.protocol, reinterpret_cast<const sockaddr*>(&e.address), e.length);
  if (r == 0 && !walk_.IsLast()) SetTimer(hwnd_.get(), kAddressTimer, kAddressTimeoutMs, nullptr);
  return r;
}

void Win32Client::OnResolved(std::uint32_t generation, int error, std::vector<Endpoint> endpoints) {
  if (generation != generation_ || state_ != kConnecting) return;
  if (error != 0) {
    ConnectFailed(error);
    return;
  }
  endpoints_ = std::move(endpoints);
  walk_ = AddressWalk(endpoints_.size(), [this](std::size_t i) { return StartEndpoint(i); });
  const std::int32_t r = walk_.Begin(WSAHOST_NOT_FOUND);
  if (r != 0) ConnectFailed(r);
}

void Win32Client::AddressFailed(std::int32_t error) {
  KillTimer(hwnd_.get(), kAddressTimer);
  if (endpoints_.empty()) {
    ConnectFailed(error);
    return;
  }
  CloseTransport();
  const std::int32_t r = walk_.Failed(error);
  if (r != 0) ConnectFailed(r);
}

void Win32Client::ConnectFailed(std::int32_t error) {
  CloseTransport();
  state_ = kIdle;
  if (OnConnect) OnConnect(error);
}

void Win32Client::Opened() {
  KillTimer(hwnd_.get(), kAddressTimer);
  if (socket_ && !endpoints_.empty()) EnableKeepAlive(socket_.get());
  state_ = kOpen;
  dropReason_ = 0;
  if (OnConnect) OnConnect(0);
}

void Win32Client::Dropped(std::int32_t reason) {
  CloseTransport();
  state_ = kIdle;
  dropReason_ = reason;
  ++generation_;
  if (OnDisconnect) OnDisconnect();
}

void Win32Client::LinkFailed(std::int32_t error) {
  // Not here and now: the caller is in the middle of a command.
  PostMessageW(hwnd_.get(), kLinkFailedMsg, generation_, error);
}

void Win32Client::RaiseData(std::vector<std::uint8_t> bytes) {
  if (OnData && !bytes.empty()) OnData(std::move(bytes));
}

void Win32Client::OnSocket(SOCKET s, WORD event, WORD error) {
  if (!socket_ || s != socket_.get()) return;
  switch (event) {
    case FD_CONNECT:
      if (state_ != kConnecting) return;
      if (error) {
        AddressFailed(error);
        return;
      }
      Opened();
      return;
    case FD_WRITE: {
      if (state_ != kOpen) return;
      SocketSink sink(socket_.get());
      if (const std::int32_t r = queue_.Resume(sink)) Dropped(r);
      return;
    }
    case FD_READ: {
      if (state_ != kOpen) return;
      // One receive per notification: Winsock posts another while data is left.
      std::vector<std::uint8_t> buffer(kReadChunk);
      const int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
      if (n > 0) {
        buffer.resize(static_cast<size_t>(n));
        RaiseData(std::move(buffer));
      } else if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
        Dropped(WSAGetLastError());
      }
      return;
    }
    case FD_CLOSE: {
      if (state_ == kConnecting) {
        AddressFailed(error ? error : WSAECONNRESET);
        return;
      }
      // What the reader sent before it closed is still delivered.
      std::vector<std::uint8_t> rest;
      char buffer[kReadChunk];
      int n;
      while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) rest.insert(rest.end(), buffer, buffer + n);
      const std::uint32_t generation = generation_;
      RaiseData(std::move(rest));
      if (generation == generation_ && state_ == kOpen) Dropped(error ? error : wcl::kClosedByPeer);
      return;
    }
    default:
      return;
  }
}

std::int32_t Win32Client::Write(std::span<const std::uint8_t> bytes) {
  if (state_ != kOpen) return wcl::kNotConnected;
  std::int32_t r = 0;
  if (serial_) {
    r = serial_->Write(bytes);
  } else {
    SocketSink sink(socket_.get());
    r = queue_.Write(bytes, sink);
  }
  if (r != 0) LinkFailed(r);
  return r;
}

void Win32Client::Disconnect() {
  if (state_ == kIdle) return;
  const bool wasOpen = state_ == kOpen;
  ++generation_;
  CloseTransport();
  state_ = kIdle;
  dropReason_ = 0;
  // The events come as they would from the system: later, while the window
  // processes messages.
  if (wasOpen) {
    PostMessageW(hwnd_.get(), kDisconnectedMsg, 0, 0);
  } else {
    PostMessageW(hwnd_.get(), kConnectFailedMsg, 0, WSAECONNABORTED);
  }
}

LRESULT CALLBACK Win32Client::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<Win32Client*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) {
    if (IsParcelMsg(msg)) DropParcel(lp);  // came after the client was gone
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  LRESULT result = 0;
  RunOrStop("A reader link event", [&] { result = self->Handle(msg, wp, lp); });
  return result;
}

LRESULT Win32Client::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  const auto generation = static_cast<std::uint32_t>(wp);
  switch (msg) {
    case kSocketMsg:
      OnSocket(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp));
      return 0;
    case WM_TIMER:
      if (wp == kAddressTimer && state_ == kConnecting) AddressFailed(WSAETIMEDOUT);
      return 0;
    case kResolvedMsg: {
      Resolved r = TakeParcel<Resolved>(lp);
      OnResolved(generation, r.error, std::move(r.endpoints));
      return 0;
    }
    case kSerialOpenedMsg: {
      SerialOpenResult r = TakeParcel<SerialOpenResult>(lp);
      UniqueFile port = std::move(r.port);
      if (generation != generation_ || state_ != kConnecting) return 0;
      if (!port) {
        ConnectFailed(static_cast<std::int32_t>(r.error));
        return 0;
      }
      try {
        serial_ = std::make_unique<SerialLink>(port.release(), hwnd_.get(), generation_);
      } catch (const std::exception& e) {
        DebugLine(std::string("Tarvik: ") + e.what());
        ConnectFailed(wcl::kLinkLost);
        return 0;
      }
      Opened();
      return 0;
    }
    case kSerialDataMsg: {
      auto chunk = TakeParcel<std::vector<std::uint8_t>>(lp);
      if (generation == generation_ && state_ == kOpen) RaiseData(std::move(chunk));
      return 0;
    }
    case kSerialLostMsg:
    case kLinkFailedMsg:
      if (generation == generation_ && state_ == kOpen) Dropped(static_cast<std::int32_t>(lp));
      return 0;
    case WM_DEVICECHANGE:
      // The adapter behind the port is going: let it go, as a dropped link.
      if (serial_ && state_ == kOpen && serial_->IsRemovalNotice(wp, lp)) Dropped(ERROR_DEVICE_REMOVED);
      return TRUE;
    case kConnectFailedMsg:
      if (OnConnect) OnConnect(static_cast<std::int32_t>(lp));
      return 0;
    case kDisconnectedMsg:
      if (OnDisconnect) OnDisconnect();
      return 0;
    default:
      return DefWindowProcW(hwnd_.get(), msg, wp, lp);
  }
}

}  // namespace tarvik::win
