#include "link/linux/serial_linux.h"

#include <termios.h>
#include <unistd.h>

#include <QFileInfo>

#include <cerrno>

#include "link/linux/link_errors_linux.h"

namespace tarvik::lnx {

QString SerialPortPath(const SerialAddress& address) {
  if (!address.path.empty()) return QString::fromStdString(address.path);
  return QStringLiteral("/dev/ttyS%1").arg(address.port - 1);
}

std::int32_t SerialErrorCode(QSerialPort::SerialPortError error, const QString& path) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError: return ENOENT;
    // Qt gives a port the user may not open and a port another program
    // holds the same kind; the port's permissions tell them apart.
    case QSerialPort::PermissionError: {
      const QByteArray file = path.toLocal8Bit();
      return access(file.constData(), R_OK | W_OK) != 0 && errno != ENOENT ? errno : EBUSY;
    }
    case QSerialPort::OpenError: return EBUSY;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError: return EIO;
    case QSerialPort::TimeoutError: return ETIMEDOUT;
    case QSerialPort::UnsupportedOperationError: return EINVAL;
    default: return kUnknownFailure;
  }
}

bool EndsSerialLink(QSerialPort::SerialPortError error) {
  return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
         error == QSerialPort::WriteError;
}

std::int32_t ProbePort(QSerialPort& port, const QString& path) {
  termios settings{};
  if (tcgetattr(port.handle(), &settings) != 0) return errno;
  return QFileInfo::exists(path) ? 0 : ENODEV;
}

std::int32_t OpenSerialPort(QSerialPort& port, const SerialAddress& address) {
  const QString path = SerialPortPath(address);
  port.setPortName(path);  // a path as it is, not a name under /dev
  const auto failed = [&port, &path](const char* attempted) {
    const std::int32_t code = SerialErrorCode(port.error(), path);
    qCWarning(linkLog, "%s %s failed: %s", attempted, qPrintable(path),
              qPrintable(port.errorString()));
    port.close();
    return code;
  };
  if (!port.open(QIODevice::ReadWrite)) return failed("Opening");
  QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
  if (address.flow == FlowControl::kRtsCts) flow = QSerialPort::HardwareControl;
  if (address.flow == FlowControl::kXonXoff) flow = QSerialPort::SoftwareControl;
  if (!port.setBaudRate(static_cast<qint32>(address.baud)) || !port.setDataBits(QSerialPort::Data8) ||
      !port.setParity(QSerialPort::NoParity) || !port.setStopBits(QSerialPort::OneStop) ||
      !port.setFlowControl(flow))
    return failed("Setting up");
  // Ports without modem lines (a pty, some adapters) refuse these; the
  // link works without them. With hardware flow control RTS is the port's.
  const bool dtr = port.setDataTerminalReady(true);
  const bool rts = flow == QSerialPort::HardwareControl || port.setRequestToSend(true);
  if (!dtr || !rts)
    qCInfo(linkLog, "%s keeps its modem lines: %s", qPrintable(path),
           qPrintable(port.errorString()));
  port.clearError();
  return 0;
}

}  // namespace tarvik::lnx
