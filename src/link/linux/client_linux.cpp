#include "link/linux/client_linux.h"

#include <QBluetoothAddress>
#include <QBluetoothSocket>
#include <QBluetoothUuid>
#include <QMetaObject>
#include <QSerialPort>
#include <QTcpSocket>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <variant>

#include "link/linux/link_errors_linux.h"
#include "core/guard.h"
#include "link/linux/serial_linux.h"
#include "link/linux/sockets_linux.h"

namespace tarvik::lnx {

void ResolveHost(const QString& host, QObject* context, std::function<void(const QHostInfo&)> done) {
  QHostInfo::lookupHost(host, context, [done = std::move(done)](const QHostInfo& info) { done(info); });
}

// Qt keeps what a device takes in a buffer of its own and sends it from the
// event loop. That buffer stands for the system's, up to the queue's limit;
// past it the device counts as full for now.
class QtClient::DeviceSink : public ILinkSink {
 public:
  explicit DeviceSink(QIODevice& device) : device_(device) {}
  Sent Send(std::span<const std::uint8_t> bytes) override {
    const qint64 room = static_cast<qint64>(WriteQueue::kMaxWaiting) - device_.bytesToWrite();
    if (room <= 0) return {0, 0};
    const qint64 n = device_.write(reinterpret_cast<const char*>(bytes.data()),
                                   std::min(room, static_cast<qint64>(bytes.size())));
    if (n < 0) return {0, ErrnoFromWords(device_.errorString(), wcl::kLinkLost)};
    return {static_cast<std::size_t>(n), 0};
  }

 private:
  QIODevice& device_;
};

QtClient::QtClient(Resolver resolver) : resolver_(std::move(resolver)) {
  addressTimer_.setSingleShot(true);
  addressTimer_.setInterval(kAddressTimeout);
  QObject::connect(&addressTimer_, &QTimer::timeout, &context_, [this] {
    RunOrStop("Trying the reader's next address", [this] {
      if (state_ == kConnecting) AddressFailed(ETIMEDOUT);
    });
  });
  portTimer_.setInterval(kPortCheckInterval);
  QObject::connect(&portTimer_, &QTimer::timeout, &context_,
                   [this] { RunOrStop("Looking for the serial port", [this] { CheckPort(); }); });
}

QtClient::~QtClient() { CloseTransport(); }

void QtClient::Post(std::function<void()> work) {
  const std::uint32_t generation = generation_;
  QMetaObject::invokeMethod(
      &context_,
      [this, generation, work = std::move(work)] {
        if (generation == generation_) RunOrStop("A reader link event", work);
      },
      Qt::QueuedConnection);
}

void QtClient::PostAlways(std::function<void()> work) {
  QMetaObject::invokeMethod(
      &context_, [work = std::move(work)] { RunOrStop("A reader link event", work); },
      Qt::QueuedConnection);
}

void QtClient::CloseTransport() {
  ++generation_;  // what was posted about this transport or attempt is moot now
  addressTimer_.stop();
  portTimer_.stop();
  if (device_) {
    // Closing emits signals of its own: nobody listens any more.
    QObject::disconnect(device_.get(), nullptr, &context_, nullptr);
    if (auto* tcp = qobject_cast<QAbstractSocket*>(device_.get())) tcp->abort();
    else if (auto* bt = qobject_cast<QBluetoothSocket*>(device_.get())) bt->abort();
    else device_->close();
    device_.reset();
  }
  serial_ = nullptr;
  portPath_.clear();
  queue_.Clear();
}

std::int32_t QtClient::Connect() {
  if (state_ != kIdle) return wcl::kBusy;
  const auto address = ParseReaderAddress(StripParentheses(Parameters.address));
  if (!address) return wcl::kBadAddress;
  if (std::holds_alternative<BluetoothAddress>(*address) && !ParseGuid(Parameters.service))
    return wcl::kBadAddress;
  CloseTransport();
  endpoints_.clear();
  state_ = kConnecting;
  if (const auto* tcp = std::get_if<TcpAddress>(&*address)) {
    tcpPort_ = tcp->port;
    const std::uint32_t generation = generation_;
    resolver_(QString::fromStdString(tcp->host), &context_, [this, generation](const QHostInfo& info) {
      RunOrStop("Looking the reader's host name up", [&] {
        if (generation == generation_ && state_ == kConnecting) OnResolved(info);
      });
    });
  } else if (const auto* serial = std::get_if<SerialAddress>(&*address)) {
    // Opening is quick but not an event: its outcome comes later, as the
    // other transports' does.
    Post([this, port = *serial] { OpenSerial(port); });
  } else {
    StartBluetooth(std::get<BluetoothAddress>(*address));
  }
  return 0;
}

void QtClient::Watch(QIODevice* device) {
  QObject::connect(device, &QIODevice::readyRead, &context_, [this] { TakeData(); }, Qt::DirectConnection);
  QObject::connect(
      device, &QIODevice::bytesWritten, &context_,
      [this](qint64) {
        Post([this] {
          if (state_ != kOpen) return;
          DeviceSink sink(*device_);
          if (const std::int32_t r = queue_.Resume(sink)) Dropped(r);
        });
      },
      Qt::DirectConnection);
}

void QtClient::TakeData() {
  RunOrStop("Reading from the reader", [this] {
    if (!device_->isOpen()) return;
    const QByteArray bytes = device_->readAll();
    if (bytes.isEmpty()) return;
    std::vector<std::uint8_t> chunk(bytes.begin(), bytes.end());
    Post([this, chunk = std::move(chunk)] {
      if (state_ == kOpen && OnData) OnData(chunk);
    });
  });
}

void QtClient::OnResolved(const QHostInfo& info) {
  if (info.error() != QHostInfo::NoError) {
    qCWarning(linkLog, "Looking up %s failed: %s", qPrintable(info.hostName()), qPrintable(info.errorString()));
    ConnectFailed(info.error() == QHostInfo::HostNotFound ? kHostNotFound
                                                          : ErrnoFromWords(info.errorString(), kHostNotFound));
    return;
  }
  endpoints_ = info.addresses();
  walk_ = AddressWalk(static_cast<std::size_t>(endpoints_.size()), [this](std::size_t i) { return StartEndpoint(i); });
  if (const std::int32_t r = walk_.Begin(kHostNotFound)) ConnectFailed(r);
}

std::int32_t QtClient::StartEndpoint(std::size_t index) {
  auto owned = std::make_unique<QTcpSocket>();
  QTcpSocket* socket = owned.get();
  device_ = std::move(owned);
  Watch(socket);
  const auto direct = Qt::DirectConnection;
  QObject::connect(socket, &QAbstractSocket::connected, &context_, [this] {
    Post([this] { if (state_ == kConnecting) Opened(); });
  }, direct);
  QObject::connect(socket, &QAbstractSocket::errorOccurred, &context_, [this, socket](QAbstractSocket::SocketError e) {
    TakeData();
    Post([this, e, words = socket->errorString()] { Failed(TcpErrorCode(e, words, state_ == kOpen)); });
  }, direct);
  QObject::connect(socket, &QAbstractSocket::disconnected, &context_, [this] {
    TakeData();
    Post([this] { Failed(wcl::kClosedByPeer); });
  }, direct);
  socket->connectToHost(endpoints_[static_cast<qsizetype>(index)], tcpPort_);
  if (!walk_.IsLast()) addressTimer_.start();
  return 0;  // even a failure at once comes as a signal
}

void QtClient::StartBluetooth(const BluetoothAddress& address) {
  auto owned = std::make_unique<QBluetoothSocket>(QBluetoothServiceInfo::RfcommProtocol);
  QBluetoothSocket* socket = owned.get();
  device_ = std::move(owned);
  Watch(socket);
  const auto direct = Qt::DirectConnection;
  QObject::connect(socket, &QBluetoothSocket::connected, &context_, [this] {
    Post([this] { if (state_ == kConnecting) Opened(); });
  }, direct);
  QObject::connect(socket, &QBluetoothSocket::errorOccurred, &context_, [this, socket](QBluetoothSocket::SocketError e) {
    TakeData();
    Post([this, e, words = socket->errorString()] { Failed(BluetoothErrorCode(e, words, state_ == kOpen)); });
  }, direct);
  QObject::connect(socket, &QBluetoothSocket::disconnected, &context_, [this] {
    TakeData();
    Post([this] { Failed(wcl::kClosedByPeer); });
  }, direct);
  // The channel is found by the service lookup.
  socket->connectToService(QBluetoothAddress(address.value),
                           QBluetoothUuid(QUuid::fromString(QString::fromStdString(Parameters.service))));
}

void QtClient::OpenSerial(const SerialAddress& address) {
  if (state_ != kConnecting) return;
  auto port = std::make_unique<QSerialPort>();
  if (const std::int32_t e = OpenSerialPort(*port, address)) {
    ConnectFailed(e);
    return;
  }
  serial_ = port.get();
  portPath_ = SerialPortPath(address);
  device_ = std::move(port);
  Watch(serial_);
  QObject::connect(serial_, &QSerialPort::errorOccurred, &context_, [this](QSerialPort::SerialPortError e) {
    if (!EndsSerialLink(e)) return;
    TakeData();
    Post([this, e, words = serial_->errorString()] {
      // Qt words what errno held, which a read at the end of a port that
      // hung up does not set: the port itself tells.
      const std::int32_t probed = ProbePort(*serial_, portPath_);
      qCWarning(linkLog, "The serial port %s failed: %s", qPrintable(portPath_),
                qPrintable(probed ? qt_error_string(probed) : words));
      Failed(probed ? probed : SerialErrorCode(e, words));
    });
  }, Qt::DirectConnection);
  Opened();
}

void QtClient::CheckPort() {
  if (state_ != kOpen || !serial_) return;
  if (const std::int32_t e = ProbePort(*serial_, portPath_)) {
    qCWarning(linkLog, "The serial port %s is gone: %s", qPrintable(portPath_), qPrintable(qt_error_string(e)));
    Dropped(e);
  }
}

void QtClient::Failed(std::int32_t error) {
  if (state_ == kConnecting) AddressFailed(error);
  else if (state_ == kOpen) Dropped(error);
}

void QtClient::AddressFailed(std::int32_t error) {
  addressTimer_.stop();
  if (endpoints_.isEmpty()) {
    ConnectFailed(error);
    return;
  }
  CloseTransport();
  if (const std::int32_t r = walk_.Failed(error)) ConnectFailed(r);
}

void QtClient::ConnectFailed(std::int32_t error) {
  CloseTransport();
  state_ = kIdle;
  if (OnConnect) OnConnect(error);
}

void QtClient::Opened() {
  addressTimer_.stop();
  if (const qintptr socket = SocketDescriptor(); socket >= 0 && !endpoints_.isEmpty()) {
    if (const int e = EnableKeepAlive(socket))
      qCWarning(linkLog, "Turning keep-alive on failed: %s", qPrintable(qt_error_string(e)));
  }
  if (serial_) portTimer_.start();
  state_ = kOpen;
  dropReason_ = 0;
  if (OnConnect) OnConnect(0);
}

void QtClient::Dropped(std::int32_t reason) {
  CloseTransport();
  state_ = kIdle;
  dropReason_ = reason;
  if (OnDisconnect) OnDisconnect();
}

std::int32_t QtClient::Write(std::span<const std::uint8_t> bytes) {
  if (state_ != kOpen) return wcl::kNotConnected;
  DeviceSink sink(*device_);
  const std::int32_t r = queue_.Write(bytes, sink);
  // The link goes soon after, not here and now: the caller is in the middle
  // of a command.
  if (r != 0) Post([this, r] { if (state_ == kOpen) Dropped(r); });
  return r;
}

void QtClient::Disconnect() {
  if (state_ == kIdle) return;
  const bool wasOpen = state_ == kOpen;
  CloseTransport();
  state_ = kIdle;
  dropReason_ = 0;
  // The events come as they would from the system: later, from the event loop.
  if (wasOpen) {
    PostAlways([this] { if (OnDisconnect) OnDisconnect(); });
  } else {
    PostAlways([this] { if (OnConnect) OnConnect(ECONNABORTED); });
  }
}

qintptr QtClient::SocketDescriptor() const {
  const auto* socket = qobject_cast<const QAbstractSocket*>(device_.get());
  return socket ? socket->socketDescriptor() : -1;
}

std::size_t QtClient::Waiting() const {
  return queue_.Waiting() + (device_ ? static_cast<std::size_t>(device_->bytesToWrite()) : 0);
}

}  // namespace tarvik::lnx
