// wclClient on Linux. The address picks the transport: a Bluetooth address
// is an RFCOMM socket to the service (QBluetoothSocket, which finds the
// channel through the device's service records), a path or "COMn" a serial
// port (QSerialPort), "tcp://h:p" a network reader (QTcpSocket). Qt's
// signals are only recorded where they are emitted; the client acts on them,
// and raises its events, from a call posted to the event loop: handlers run
// on the user-interface thread while it processes events, never inside a
// call into the client or into Qt.
#pragma once
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

#include "link/address.h"
#include "link/address_walk.h"
#include "link/wireless.h"
#include "link/write_queue.h"

class QIODevice;
class QSerialPort;

namespace tarvik::lnx {

// Looks a host name up and calls `done` from the event loop (never within
// the call) with the addresses in the system's order, or the failure.
// `context` going away cancels the call.
using Resolver =
    std::function<void(const QString& host, QObject* context, std::function<void(const QHostInfo&)> done)>;
void ResolveHost(const QString& host, QObject* context, std::function<void(const QHostInfo&)> done);

// TCP keep-alive: a reader that loses power or its network never sends a
// close; with probes after 10 s of silence, a second apart, ten of them, the
// link is seen dropped within about 20 s.
inline constexpr int kKeepAliveIdleSeconds = 10;
inline constexpr int kKeepAliveIntervalSeconds = 1;
inline constexpr int kKeepAliveProbes = 10;
// An address that has not answered in this time gives way to the next one;
// the last address gets the system's own time.
inline constexpr std::chrono::milliseconds kAddressTimeout{5000};
// Some serial drivers never fail a read when their device goes: the port's
// path is looked at this often while the port is open.
inline constexpr std::chrono::milliseconds kPortCheckInterval{1000};

class QtClient : public wclClient {
 public:
  explicit QtClient(Resolver resolver = &ResolveHost);
  ~QtClient() override;
  QtClient(const QtClient&) = delete;
  QtClient& operator=(const QtClient&) = delete;

  std::int32_t Connect() override;
  std::uint32_t State() const override { return state_; }
  std::int32_t Write(std::span<const std::uint8_t> bytes) override;
  void Disconnect() override;
  std::int32_t DropReason() const override { return dropReason_; }

  enum : std::uint32_t { kIdle = 0, kConnecting = 1, kOpen = 2 };
  // The descriptor of an open network link, -1 without one (tests read its
  // options).
  qintptr SocketDescriptor() const;
  // Bytes written that the link has not sent yet: Qt's buffer and the queue.
  std::size_t Waiting() const;

 private:
  class DeviceSink;
  // Runs `work` from the event loop unless the transport or attempt of now
  // has gone by then.
  void Post(std::function<void()> work);
  void PostAlways(std::function<void()> work);
  void Watch(QIODevice* device);  // data and bytes taken, for any transport
  std::int32_t StartEndpoint(std::size_t index);
  void StartBluetooth(const BluetoothAddress& address);
  void OpenSerial(const SerialAddress& address);
  void OnResolved(const QHostInfo& info);
  void AddressFailed(std::int32_t error);
  void ConnectFailed(std::int32_t error);  // raises OnConnect now
  void Opened();
  void Dropped(std::int32_t reason);  // an open link closed on its own
  void Failed(std::int32_t error);    // by state: the address, the attempt or the link
  void CloseTransport();
  void TakeData();
  void CheckPort();

  Resolver resolver_;
  std::unique_ptr<QIODevice> device_;
  QSerialPort* serial_ = nullptr;  // device_, when it is a serial port
  QString portPath_;
  QList<QHostAddress> endpoints_;
  std::uint16_t tcpPort_ = 0;
  AddressWalk walk_;
  WriteQueue queue_;
  std::uint32_t state_ = kIdle;
  std::int32_t dropReason_ = 0;
  // Posted calls carry the number of their moment and are dropped when it
  // has changed: a new attempt, a transport closed.
  std::uint32_t generation_ = 0;
  QTimer addressTimer_;
  QTimer portTimer_;
  // Last: destroyed first, taking the posted calls and connections with it.
  QObject context_;
};

}  // namespace tarvik::lnx
