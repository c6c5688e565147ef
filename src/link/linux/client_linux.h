// wclClient on Linux: the portable LinkClient over Qt. The address picks the
// transport: a Bluetooth address is an RFCOMM socket to the service
// (QBluetoothSocket, which finds the channel through the device's service
// records), a path or "COMn" a serial port (QSerialPort), "tcp://h:p" a
// network reader (QTcpSocket). Qt's signals are passed on where they are
// emitted; LinkClient acts on them from a call posted to the event loop.
#pragma once
#include <QHostInfo>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

#include "link/link_client.h"

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
// Some serial drivers never fail a read when their device goes: the port's
// path is looked at this often while the port is open.
inline constexpr std::chrono::milliseconds kPortCheckInterval{1000};

// The Qt event loop and a single-shot timer.
class QtLinkLoop : public ILinkLoop {
 public:
  QtLinkLoop();
  void Post(std::function<void()> work) override;
  void StartTimer(std::chrono::milliseconds after, std::function<void()> done) override;
  void StopTimer() override;

 private:
  std::function<void()> done_;
  QTimer timer_;
  // Last: destroyed first, taking the posted calls and connections with it.
  QObject context_;
};

class QtClient : private QtLinkLoop, public LinkClient {
 public:
  explicit QtClient(Resolver resolver = &ResolveHost);
  // The descriptor of an open network link, -1 without one (tests read its
  // options).
  qintptr SocketDescriptor() const;
};

}  // namespace tarvik::lnx
