// Serial ports on Linux through QSerialPort: a port by path, or "COMn" as
// the n-th of the system's own ports (/dev/ttyS0 is COM1).
#pragma once
#include <QSerialPort>
#include <QString>

#include <cstdint>

#include "link/address.h"

namespace tarvik::lnx {

QString SerialPortPath(const SerialAddress& address);

// Opens the port and sets every line setting that matters, whatever another
// program left there: the address's speed, 8 data bits, no parity, one stop
// bit, the address's flow control; DTR and RTS up (some readers send only
// while they are). 0, or the system's error (the port is closed then).
std::int32_t OpenSerialPort(QSerialPort& port, const SerialAddress& address);

// The errno behind a failure of the port at `path`, from Qt's kind of it.
std::int32_t SerialErrorCode(QSerialPort::SerialPortError error, const QString& path);

// True for the failures that end an open port's link.
bool EndsSerialLink(QSerialPort::SerialPortError error);

// Asks an open port whether its device is still there: 0, or the system's
// error. A device that hung up (a pulled USB adapter, a pty whose other end
// closed) fails its line settings with EIO, though a read only says "end of
// file" and leaves errno as it was; a removed device may keep its handle
// working but loses its path (ENODEV then).
std::int32_t ProbePort(QSerialPort& port, const QString& path);

}  // namespace tarvik::lnx
