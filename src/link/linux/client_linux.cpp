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

#include "core/guard.h"
#include "link/linux/link_errors_linux.h"
#include "link/linux/serial_linux.h"
#include "link/linux/sockets_linux.h"

namespace tarvik::lnx {
namespace {

// What every Qt device does alike: data as it comes, room as it is made,
// and Qt's own buffer, which stands for the system's up to the queue's
// limit; past it the device counts as full for now.
class DeviceTransport : public ILinkTransport {
 public:
  explicit DeviceTransport(ILinkEvents& events) : events_(events) {}
  ~DeviceTransport() override { DeviceTransport::Close(); }

  Sent Send(std::span<const std::uint8_t> bytes) override {
    const qint64 room = static_cast<qint64>(WriteQueue::kMaxWaiting) - device_->bytesToWrite();
    if (room <= 0) return {0, 0};
    const qint64 n = device_->write(reinterpret_cast<const char*>(bytes.data()),
                                    std::min(room, static_cast<qint64>(bytes.size())));
    if (n < 0) return {0, WriteError()};
    return {static_cast<std::size_t>(n), 0};
  }
  std::size_t Buffered() const override {
    return device_ ? static_cast<std::size_t>(device_->bytesToWrite()) : 0;
  }
  void Close() override {
    if (!device_) return;
    // Closing emits signals of its own: nobody listens any more.
    QObject::disconnect(device_.get(), nullptr, &context_, nullptr);
    if (auto* tcp = qobject_cast<QAbstractSocket*>(device_.get())) tcp->abort();
    else if (auto* bt = qobject_cast<QBluetoothSocket*>(device_.get())) bt->abort();
    else device_->close();
    device_.reset();
    open_ = false;
  }

 protected:
  virtual std::int32_t WriteError() const = 0;
  // Takes `device` and passes its data, its room and its connect on.
  template <typename Device>
  Device* Adopt(std::unique_ptr<Device> device) {
    Device* d = device.get();
    device_ = std::move(device);
    const auto direct = Qt::DirectConnection;
    QObject::connect(d, &QIODevice::readyRead, &context_, [this] { TakeData(); }, direct);
    QObject::connect(d, &QIODevice::bytesWritten, &context_, [this](qint64) { events_.Writable(); }, direct);
    if constexpr (!std::is_same_v<Device, QSerialPort>) {
      QObject::connect(d, &Device::connected, &context_, [this] { open_ = true, events_.Opened(); }, direct);
      QObject::connect(d, &Device::disconnected, &context_, [this] {
        TakeData();
        events_.Failed(wcl::kClosedByPeer);
      }, direct);
    }
    return d;
  }
  // What the reader sent before a failure or close is still delivered.
  void TakeData() {
    RunOrStop("Reading from the reader", [this] {
      if (!device_ || !device_->isOpen()) return;
      const QByteArray bytes = device_->readAll();
      events_.Received(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    });
  }

  ILinkEvents& events_;
  std::unique_ptr<QIODevice> device_;
  bool open_ = false;  // told Opened
  QObject context_;
};

class TcpTransport : public DeviceTransport {
 public:
  TcpTransport(ILinkEvents& events, Resolver resolver, const TcpAddress& address)
      : DeviceTransport(events), resolver_(std::move(resolver)), address_(address) {}
  bool LooksUp() const override { return true; }
  void Resolve() override {
    resolver_(QString::fromStdString(address_.host), &context_, [this](const QHostInfo& info) {
      RunOrStop("Looking the reader's host name up", [&] {
        // Qt tells only whether the name was not found or something else
        // failed; either way the reader cannot be reached by that name.
        if (info.error() != QHostInfo::NoError)
          qCWarning(linkLog, "Looking up %s failed: %s", qPrintable(info.hostName()),
                    qPrintable(info.errorString()));
        endpoints_ = info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>();
        events_.Resolved(endpoints_.isEmpty() ? kHostNotFound : 0, static_cast<std::size_t>(endpoints_.size()));
      });
    });
  }
  std::int32_t Open(std::size_t index) override {
    QTcpSocket* socket = Adopt(std::make_unique<QTcpSocket>());
    QObject::connect(socket, &QAbstractSocket::errorOccurred, &context_, [this](QAbstractSocket::SocketError e) {
      TakeData();
      events_.Failed(TcpErrorCode(e, device_->errorString(), open_));
    }, Qt::DirectConnection);
    socket->connectToHost(endpoints_[static_cast<qsizetype>(index)], address_.port);
    return 0;  // even a failure at once comes as a signal
  }
  void Use() override {
    if (const int e = EnableKeepAlive(Descriptor()))
      qCWarning(linkLog, "Turning keep-alive on failed: %s", qPrintable(qt_error_string(e)));
  }
  qintptr Descriptor() const {
    const auto* socket = qobject_cast<const QAbstractSocket*>(device_.get());
    return socket ? socket->socketDescriptor() : -1;
  }

 private:
  std::int32_t WriteError() const override {
    const auto* socket = static_cast<const QTcpSocket*>(device_.get());
    return TcpErrorCode(socket->error(), socket->errorString(), true);
  }
  Resolver resolver_;
  TcpAddress address_;
  QList<QHostAddress> endpoints_;
};

class BluetoothTransport : public DeviceTransport {
 public:
  BluetoothTransport(ILinkEvents& events, const BluetoothAddress& address, const std::string& service)
      : DeviceTransport(events), address_(address), service_(service) {}
  std::int32_t Open(std::size_t) override {
    auto* socket = Adopt(std::make_unique<QBluetoothSocket>(QBluetoothServiceInfo::RfcommProtocol));
    QObject::connect(socket, &QBluetoothSocket::errorOccurred, &context_, [this](QBluetoothSocket::SocketError e) {
      TakeData();
      events_.Failed(BluetoothErrorCode(e, device_->errorString(), open_));
    }, Qt::DirectConnection);
    // The channel is found by the service lookup.
    socket->connectToService(QBluetoothAddress(address_.value),
                             QBluetoothUuid(QUuid::fromString(QString::fromStdString(service_))));
    return 0;
  }

 private:
  std::int32_t WriteError() const override {
    const auto* socket = static_cast<const QBluetoothSocket*>(device_.get());
    return BluetoothErrorCode(socket->error(), socket->errorString(), true);
  }
  BluetoothAddress address_;
  std::string service_;
};

class SerialTransport : public DeviceTransport {
 public:
  SerialTransport(ILinkEvents& events, const SerialAddress& address)
      : DeviceTransport(events), address_(address), path_(SerialPortPath(address)) {
    portTimer_.setInterval(kPortCheckInterval);
    QObject::connect(&portTimer_, &QTimer::timeout, &context_,
                     [this] { RunOrStop("Looking for the serial port", [this] { CheckPort(); }); });
  }
  // Opening is quick but not an event: its outcome comes later, as the
  // other transports' does.
  std::int32_t Open(std::size_t) override {
    auto port = std::make_unique<QSerialPort>();
    if (const std::int32_t e = OpenSerialPort(*port, address_)) {
      events_.Failed(e);
      return 0;
    }
    QSerialPort* serial = Adopt(std::move(port));
    QObject::connect(serial, &QSerialPort::errorOccurred, &context_, [this, serial](QSerialPort::SerialPortError e) {
      if (!EndsSerialLink(e)) return;
      TakeData();
      // A read at the end of a port that hung up fails without saying
      // why: the port itself tells.
      const std::int32_t probed = ProbePort(*serial, path_);
      const std::int32_t code = probed ? probed : SerialErrorCode(e, path_);
      qCWarning(linkLog, "The serial port %s failed: %s", qPrintable(path_), qPrintable(qt_error_string(code)));
      events_.Failed(code);
    }, Qt::DirectConnection);
    open_ = true;
    events_.Opened();
    return 0;
  }
  void Use() override { portTimer_.start(); }
  void Close() override {
    portTimer_.stop();
    DeviceTransport::Close();
  }

 private:
  std::int32_t WriteError() const override {
    return SerialErrorCode(static_cast<const QSerialPort*>(device_.get())->error(), path_);
  }
  void CheckPort() {
    if (!device_) return;
    if (const std::int32_t e = ProbePort(*static_cast<QSerialPort*>(device_.get()), path_)) {
      qCWarning(linkLog, "The serial port %s is gone: %s", qPrintable(path_), qPrintable(qt_error_string(e)));
      portTimer_.stop();
      events_.Failed(e);
    }
  }
  SerialAddress address_;
  QString path_;
  QTimer portTimer_;
};

}  // namespace

void ResolveHost(const QString& host, QObject* context, std::function<void(const QHostInfo&)> done) {
  QHostInfo::lookupHost(host, context, [done = std::move(done)](const QHostInfo& info) { done(info); });
}

QtLinkLoop::QtLinkLoop() {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, &context_, [this] {
    RunOrStop("Trying the reader's next address", [this] {
      if (auto done = std::exchange(done_, nullptr)) done();
    });
  });
}

void QtLinkLoop::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(
      &context_, [work = std::move(work)] { RunOrStop("A reader link event", work); }, Qt::QueuedConnection);
}

void QtLinkLoop::StartTimer(std::chrono::milliseconds after, std::function<void()> done) {
  done_ = std::move(done);
  timer_.start(after);
}

void QtLinkLoop::StopTimer() {
  timer_.stop();
  done_ = nullptr;
}

QtClient::QtClient(Resolver resolver)
    : LinkClient(*this,
                 [resolver = std::move(resolver)](const ReaderAddress& address, const LinkParameters& parameters,
                                                  ILinkEvents& events, std::int32_t&) -> std::unique_ptr<ILinkTransport> {
                   if (const auto* tcp = std::get_if<TcpAddress>(&address))
                     return std::make_unique<TcpTransport>(events, resolver, *tcp);
                   if (const auto* serial = std::get_if<SerialAddress>(&address))
                     return std::make_unique<SerialTransport>(events, *serial);
                   return std::make_unique<BluetoothTransport>(events, std::get<BluetoothAddress>(address),
                                                               parameters.service);
                 },
                 Codes{ECONNABORTED, ETIMEDOUT}) {}

qintptr QtClient::SocketDescriptor() const {
  const auto* tcp = dynamic_cast<const TcpTransport*>(Transport());
  return tcp ? tcp->Descriptor() : -1;
}

}  // namespace tarvik::lnx
