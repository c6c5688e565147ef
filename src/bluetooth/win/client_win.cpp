#include "bluetooth/win/client_win.h"

// <winsock2.h> comes first through unique_any.h; ws2bth needs it.
#include <ws2bth.h>
#include <ws2tcpip.h>

#include <stdexcept>
#include <thread>

#include "bluetooth/win/serial_win.h"
#include "common/win/guard_win.h"
#include "common/win/message_window_win.h"
#include "common/win/text_win.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kClassName[] = L"TarvikLink";
constexpr UINT kSocketMsg = WM_APP + 1;
constexpr UINT kResolvedMsg = WM_APP + 2;      // lParam: heap Resolved
constexpr UINT kConnectFailedMsg = WM_APP + 3;  // lParam: error
constexpr UINT kDisconnectedMsg = WM_APP + 4;

struct Resolved {
  ADDRINFOW* list = nullptr;
  int error = 0;
  ~Resolved() {
    if (list) FreeAddrInfoW(list);
  }
};

// Names are looked up on a thread of their own: a lookup can take seconds.
void ResolveAsync(HWND notify, std::uint32_t generation, std::string host, std::uint16_t port) {
  std::thread([=] {
    auto* r = new Resolved;
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    r->error = GetAddrInfoW(Widen(host).c_str(), std::to_wstring(port).c_str(), &hints, &r->list);
    if (!PostMessageW(notify, kResolvedMsg, generation, reinterpret_cast<LPARAM>(r))) delete r;
  }).detach();
}

}  // namespace

Win32Client::Win32Client()
    : hwnd_(CreateMessageWindow(kClassName, &Win32Client::WndProc, this, L"the reader link")) {}

Win32Client::~Win32Client() {
  ++generation_;
  CloseTransport();
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

void Win32Client::CloseTransport() {
  socket_.reset();  // pending notifications for it are dropped by their socket
  serial_.reset();  // joins the reader
}

std::int32_t Win32Client::Connect() {
  if (state_ != kIdle) return wcl::kBusy;
  const auto address = ParseReaderAddress(StripParentheses(Parameters.address));
  if (!address) return wcl::kBadAddress;
  const std::uint32_t generation = ++generation_;

  if (const auto* tcp = std::get_if<TcpAddress>(&*address)) {
    ResolveAsync(hwnd_, generation, tcp->host, tcp->port);
  } else if (const auto* serial = std::get_if<SerialAddress>(&*address)) {
    OpenSerialPortAsync(hwnd_, generation, serial->port, serial->baud);
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
  // once and its outcome arrives as FD_CONNECT.
  if (WSAAsyncSelect(s.get(), hwnd_, kSocketMsg, FD_CONNECT | FD_READ | FD_CLOSE) == SOCKET_ERROR)
    return WSAGetLastError();
  if (connect(s.get(), to, length) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
  }
  socket_ = std::move(s);
  return 0;
}

void Win32Client::OnResolved(std::uint32_t generation, ADDRINFOW* list, int error) {
  if (generation != generation_ || state_ != kConnecting) return;
  if (error != 0 || !list) {
    ConnectFailed(error ? error : WSAHOST_NOT_FOUND);
    return;
  }
  const std::int32_t r = StartSocket(list->ai_family, list->ai_socktype, list->ai_protocol,
                                     list->ai_addr, static_cast<int>(list->ai_addrlen));
  if (r != 0) ConnectFailed(r);
}

void Win32Client::ConnectFailed(std::int32_t error) {
  CloseTransport();
  state_ = kIdle;
  if (OnConnect) OnConnect(error);
}

void Win32Client::Dropped() {
  CloseTransport();
  state_ = kIdle;
  ++generation_;
  if (OnDisconnect) OnDisconnect();
}

void Win32Client::RaiseData(std::vector<std::uint8_t> bytes) {
  if (OnData && !bytes.empty()) OnData(std::move(bytes));
}

void Win32Client::OnSocket(SOCKET s, WORD event, WORD error) {
  // Notifications queued before a socket was closed still arrive.
  if (!socket_ || s != socket_.get()) return;
  switch (event) {
    case FD_CONNECT:
      if (state_ != kConnecting) return;
      if (error) {
        ConnectFailed(error);
        return;
      }
      state_ = kOpen;
      if (OnConnect) OnConnect(0);
      return;
    case FD_READ: {
      if (state_ != kOpen) return;
      // One receive per notification: Winsock posts another while data is left.
      std::vector<std::uint8_t> buffer(4096);
      const int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
      if (n > 0) {
        buffer.resize(static_cast<size_t>(n));
        RaiseData(std::move(buffer));
      } else if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
        Dropped();
      }
      return;
    }
    case FD_CLOSE: {
      if (state_ == kConnecting) {
        ConnectFailed(error ? error : WSAECONNRESET);
        return;
      }
      // What the reader sent before it closed is still delivered.
      std::vector<std::uint8_t> rest;
      char buffer[4096];
      int n;
      while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) rest.insert(rest.end(), buffer, buffer + n);
      const std::uint32_t generation = generation_;
      RaiseData(std::move(rest));
      if (generation == generation_ && state_ == kOpen) Dropped();
      return;
    }
    default:
      return;
  }
}

std::int32_t Win32Client::Write(std::span<const std::uint8_t> bytes) {
  if (state_ != kOpen) return wcl::kNotConnected;
  if (serial_) return serial_->Write(bytes);
  size_t done = 0;
  while (done < bytes.size()) {
    const int n = send(socket_.get(), reinterpret_cast<const char*>(bytes.data() + done),
                       static_cast<int>(bytes.size() - done), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    done += static_cast<size_t>(n);
  }
  return 0;
}

void Win32Client::Disconnect() {
  if (state_ == kIdle) return;
  const bool wasOpen = state_ == kOpen;
  ++generation_;
  CloseTransport();
  state_ = kIdle;
  // The events come as they would from the system: later, while the window
  // processes messages.
  if (wasOpen) {
    PostMessageW(hwnd_, kDisconnectedMsg, 0, 0);
  } else {
    PostMessageW(hwnd_, kConnectFailedMsg, 0, WSAECONNABORTED);
  }
}

LRESULT CALLBACK Win32Client::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<Win32Client*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) {
    // Heap payloads of messages that arrive after the client is gone.
    if (msg == kResolvedMsg) delete reinterpret_cast<Resolved*>(lp);
    if (msg == kSerialDataMsg) delete reinterpret_cast<std::vector<std::uint8_t>*>(lp);
    if (msg == kSerialOpenedMsg) {
      auto* r = reinterpret_cast<SerialOpenResult*>(lp);
      if (r->port != INVALID_HANDLE_VALUE) CloseHandle(r->port);
      delete r;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  LRESULT result = 0;
  RunGuarded([&] { result = self->Handle(msg, wp, lp); });
  return result;
}

LRESULT Win32Client::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  const auto generation = static_cast<std::uint32_t>(wp);
  switch (msg) {
    case kSocketMsg:
      OnSocket(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp));
      return 0;
    case kResolvedMsg: {
      std::unique_ptr<Resolved> r(reinterpret_cast<Resolved*>(lp));
      OnResolved(generation, r->list, r->error);
      return 0;
    }
    case kSerialOpenedMsg: {
      std::unique_ptr<SerialOpenResult> r(reinterpret_cast<SerialOpenResult*>(lp));
      UniqueFile port(r->port);
      if (generation != generation_ || state_ != kConnecting) return 0;
      if (!port) {
        ConnectFailed(static_cast<std::int32_t>(r->error));
        return 0;
      }
      serial_ = std::make_unique<SerialLink>(port.release(), hwnd_, generation_);
      state_ = kOpen;
      if (OnConnect) OnConnect(0);
      return 0;
    }
    case kSerialDataMsg: {
      std::unique_ptr<std::vector<std::uint8_t>> chunk(reinterpret_cast<std::vector<std::uint8_t>*>(lp));
      if (generation == generation_ && state_ == kOpen) RaiseData(std::move(*chunk));
      return 0;
    }
    case kSerialLostMsg:
      if (generation == generation_ && state_ == kOpen) Dropped();
      return 0;
    case kConnectFailedMsg:
      if (OnConnect) OnConnect(static_cast<std::int32_t>(lp));
      return 0;
    case kDisconnectedMsg:
      if (OnDisconnect) OnDisconnect();
      return 0;
    default:
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

}  // namespace tarvik::win
