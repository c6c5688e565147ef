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
constexpr UINT kWorkMsg = kFirstParcelMsg;  // a std::function<void()>
constexpr UINT_PTR kAddressTimer = 1;
// Bytes taken from the socket per read; more wait for the next.
constexpr std::size_t kReadChunk = 4096;
// Windows keeps sending ten probes; where it lets us say so (Windows 10 1703
// on), we say it too.
constexpr DWORD kKeepAliveProbes = 10;
#ifndef TCP_KEEPCNT
constexpr int TCP_KEEPCNT = 16;
#endif

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

// An RFCOMM socket to a service, or a TCP socket to each address of a name
// in turn. Asynchronous select makes the socket non-blocking: connect
// returns at once and its outcome arrives as FD_CONNECT; FD_WRITE says when
// bytes that had to wait can go.
class SocketTransport : public ILinkTransport {
 public:
  SocketTransport(ILinkEvents& events, HWND hwnd) : events_(events), hwnd_(hwnd) {}
  ~SocketTransport() override { SocketTransport::Close(); }

  // A network reader: its name is looked up before anything is opened.
  void LookUp(Resolver resolver, TcpAddress address) {
    resolver_ = std::move(resolver);
    tcp_ = std::move(address);
  }
  // A Bluetooth reader: one endpoint.
  void Bluetooth(const SOCKADDR_BTH& to) {
    Endpoint e;
    e.family = AF_BTH, e.type = SOCK_STREAM, e.protocol = BTHPROTO_RFCOMM;
    std::memcpy(&e.address, &to, sizeof to);
    e.length = sizeof to;
    endpoints_ = {e};
  }

  bool LooksUp() const override { return bool(resolver_); }
  void Resolve() override {
    // Names are looked up on a thread of their own: a lookup can take seconds.
    std::thread([resolver = resolver_, notify = hwnd_, host = tcp_.host, port = tcp_.port,
                 alive = std::weak_ptr<int>(alive_), this] {
      RunOrStop("Looking the reader's host name up", [&] {
        std::vector<Endpoint> found;
        const int error = resolver(host, port, found);
        PostParcel(notify, kWorkMsg, 0, std::function<void()>([alive, this, error, found] {
          if (!alive.lock()) return;  // the attempt has gone by
          endpoints_ = found;
          events_.Resolved(error ? error : found.empty() ? WSAHOST_NOT_FOUND : 0, found.size());
        }));
      });
    }).detach();
  }
  std::int32_t Open(std::size_t index) override {
    const Endpoint& e = endpoints_[index];
    UniqueSocket s(socket(e.family, e.type, e.protocol));
    if (!s) return WSAGetLastError();
    if (WSAAsyncSelect(s.get(), hwnd_, kSocketMsg, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
      return WSAGetLastError();
    if (connect(s.get(), reinterpret_cast<const sockaddr*>(&e.address), e.length) == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) return error;
    }
    socket_ = std::move(s);
    return 0;
  }
  void Use() override {
    if (resolver_) EnableKeepAlive(socket_.get());
  }
  Sent Send(std::span<const std::uint8_t> bytes) override {
    const int n = send(socket_.get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
    if (n != SOCKET_ERROR) return {static_cast<std::size_t>(n), 0};
    const int error = WSAGetLastError();
    // Full for now: FD_WRITE says when it can take more.
    if (error == WSAEWOULDBLOCK) return {0, 0};
    return {0, error};
  }
  void Close() override {
    open_ = false;
    if (!socket_) return;
    // Notifications already queued for this socket would arrive after it is
    // gone, and the system may hand its number to the next one: take them
    // out of the queue now.
    WSAAsyncSelect(socket_.get(), hwnd_, 0, 0);
    socket_.reset();
    MSG stale;
    while (PeekMessageW(&stale, hwnd_, kSocketMsg, kSocketMsg, PM_REMOVE)) {
    }
  }

  SOCKET Socket() const { return socket_.get(); }
  void OnSocket(SOCKET s, WORD event, WORD error) {
    if (!socket_ || s != socket_.get()) return;
    switch (event) {
      case FD_CONNECT:
        if (error) {
          events_.Failed(error);
        } else {
          open_ = true;
          events_.Opened();
        }
        return;
      case FD_WRITE:
        events_.Writable();
        return;
      case FD_READ: {
        // One receive per notification: Winsock posts another while data is left.
        std::vector<std::uint8_t> buffer(kReadChunk);
        const int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (n > 0) {
          buffer.resize(static_cast<size_t>(n));
          events_.Received(std::move(buffer));
        } else if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
          events_.Failed(WSAGetLastError());
        }
        return;
      }
      case FD_CLOSE: {
        if (!open_) {
          events_.Failed(error ? error : WSAECONNRESET);
          return;
        }
        // What the reader sent before it closed is still delivered.
        std::vector<std::uint8_t> rest;
        char buffer[kReadChunk];
        int n;
        while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) rest.insert(rest.end(), buffer, buffer + n);
        events_.Received(std::move(rest));
        events_.Failed(error ? error : wcl::kClosedByPeer);
        return;
      }
      default:
        return;
    }
  }

 private:
  ILinkEvents& events_;
  HWND hwnd_;
  Resolver resolver_;
  TcpAddress tcp_;
  std::vector<Endpoint> endpoints_;
  UniqueSocket socket_;
  bool open_ = false;  // told Opened
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// A COM port, opened on a thread (SerialLink's) and served by one.
class SerialTransport : public ILinkTransport {
 public:
  SerialTransport(ILinkEvents& events, HWND hwnd, std::uint32_t tag, SerialAddress address)
      : events_(events), hwnd_(hwnd), tag_(tag), address_(std::move(address)) {}
  std::int32_t Open(std::size_t) override {
    OpenSerialPortAsync(hwnd_, tag_, address_);
    return 0;
  }
  // SerialLink queues everything and writes on its thread.
  Sent Send(std::span<const std::uint8_t> bytes) override {
    if (!link_) return {0, wcl::kNotConnected};
    return {bytes.size(), link_->Write(bytes)};
  }
  void Close() override { link_.reset(); }  // stops the port's thread

  std::uint32_t Tag() const { return tag_; }
  bool IsRemovalNotice(WPARAM wp, LPARAM lp) const { return link_ && link_->IsRemovalNotice(wp, lp); }
  void Opened(SerialOpenResult r) {
    if (!r.port) {
      events_.Failed(static_cast<std::int32_t>(r.error));
      return;
    }
    try {
      link_ = std::make_unique<SerialLink>(r.port.release(), hwnd_, tag_);
    } catch (const std::exception& e) {
      DebugLine(std::string("Tarvik: ") + e.what());
      events_.Failed(wcl::kLinkLost);
      return;
    }
    events_.Opened();
  }
  ILinkEvents& Events() { return events_; }

 private:
  ILinkEvents& events_;
  HWND hwnd_;
  std::uint32_t tag_;
  SerialAddress address_;
  std::unique_ptr<SerialLink> link_;
};

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

LinkWindow::LinkWindow() : hwnd_(CreateMessageWindow(kClassName, &LinkWindow::WndProc, this, L"the reader link")) {}

void LinkWindow::Post(std::function<void()> work) { PostParcel(hwnd_.get(), kWorkMsg, 0, std::move(work)); }

void LinkWindow::StartTimer(std::chrono::milliseconds after, std::function<void()> done) {
  done_ = std::move(done);
  SetTimer(hwnd_.get(), kAddressTimer, static_cast<UINT>(after.count()), nullptr);
}

void LinkWindow::StopTimer() {
  KillTimer(hwnd_.get(), kAddressTimer);
  done_ = nullptr;
}

void LinkWindow::Fire() {
  KillTimer(hwnd_.get(), kAddressTimer);  // once
  if (auto done = std::exchange(done_, nullptr)) done();
}

LRESULT CALLBACK LinkWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<LinkWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self || !self->owner_) {
    if (IsParcelMsg(msg)) DropParcel(lp);  // came after the client was gone
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  LRESULT result = 0;
  RunOrStop("A reader link event", [&] { result = self->owner_->Handle(msg, wp, lp); });
  return result;
}

Win32Client::Win32Client(Resolver resolver)
    : LinkClient(
          *this,
          [this](const ReaderAddress& address, const LinkParameters& parameters, ILinkEvents& events,
                 std::int32_t& error) { return Make(address, parameters, events, error); },
          Codes{WSAECONNABORTED, WSAETIMEDOUT}),
      resolver_(std::move(resolver)) {
  owner_ = this;
}

Win32Client::~Win32Client() { owner_ = nullptr; }

std::unique_ptr<ILinkTransport> Win32Client::Make(const ReaderAddress& address, const LinkParameters& parameters,
                                                  ILinkEvents& events, std::int32_t& error) {
  const std::uint32_t tag = ++made_;
  if (const auto* tcp = std::get_if<TcpAddress>(&address)) {
    auto t = std::make_unique<SocketTransport>(events, hwnd_.get());
    t->LookUp(resolver_, *tcp);
    return t;
  }
  if (const auto* serial = std::get_if<SerialAddress>(&address)) {
    if (!serial->path.empty()) {  // a Linux device path: no such port here
      error = wcl::kBadAddress;
      return nullptr;
    }
    return std::make_unique<SerialTransport>(events, hwnd_.get(), tag, *serial);
  }
  const auto& bt = std::get<BluetoothAddress>(address);
  const auto service = ParseGuid(parameters.service);
  SOCKADDR_BTH to{};
  to.addressFamily = AF_BTH;
  to.btAddr = bt.value;
  to.serviceClassId.Data1 = service->data1;
  to.serviceClassId.Data2 = service->data2;
  to.serviceClassId.Data3 = service->data3;
  for (int i = 0; i < 8; ++i) to.serviceClassId.Data4[i] = service->data4[i];
  to.port = 0;  // the channel is found by the service lookup
  auto t = std::make_unique<SocketTransport>(events, hwnd_.get());
  t->Bluetooth(to);
  return t;
}

SOCKET Win32Client::Socket() const {
  const auto* t = dynamic_cast<const SocketTransport*>(Transport());
  return t ? t->Socket() : INVALID_SOCKET;
}

LRESULT Win32Client::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  auto* serial = dynamic_cast<SerialTransport*>(Transport());
  const bool ours = serial && serial->Tag() == static_cast<std::uint32_t>(wp);  // not an earlier port's
  switch (msg) {
    case kWorkMsg:
      TakeParcel<std::function<void()>>(lp)();
      return 0;
    case WM_TIMER:
      if (wp == kAddressTimer) Fire();
      return 0;
    case kSocketMsg:
      if (auto* socket = dynamic_cast<SocketTransport*>(Transport()))
        socket->OnSocket(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp));
      return 0;
    case kSerialOpenedMsg: {
      SerialOpenResult r = TakeParcel<SerialOpenResult>(lp);
      if (ours) serial->Opened(std::move(r));
      return 0;  // else the port closes here
    }
    case kSerialDataMsg: {
      auto chunk = TakeParcel<std::vector<std::uint8_t>>(lp);
      if (ours) serial->Events().Received(std::move(chunk));
      return 0;
    }
    case kSerialLostMsg:
      if (ours) serial->Events().Failed(static_cast<std::int32_t>(lp));
      return 0;
    case WM_DEVICECHANGE:
      // The adapter behind the port is going: let it go now, as a dropped
      // link, so that nothing holds the device back.
      if (serial && State() == kOpen && serial->IsRemovalNotice(wp, lp)) Drop(ERROR_DEVICE_REMOVED);
      return TRUE;
    default:
      return DefWindowProcW(hwnd_.get(), msg, wp, lp);
  }
}

}  // namespace tarvik::win
