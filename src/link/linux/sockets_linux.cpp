#include "link/linux/sockets_linux.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "link/linux/client_linux.h"
#include "link/linux/link_errors_linux.h"
#include "link/wireless.h"

namespace tarvik::lnx {

std::int32_t TcpErrorCode(QAbstractSocket::SocketError error, const QString& words, bool open) {
  switch (error) {
    // Qt words a reset like an orderly close: both mean the reader ended it.
    case QAbstractSocket::RemoteHostClosedError: return open ? wcl::kClosedByPeer : ECONNRESET;
    case QAbstractSocket::HostNotFoundError: return kHostNotFound;
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::SocketAccessError: return EACCES;
    case QAbstractSocket::SocketResourceError: return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::AddressInUseError: return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError: return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError: return EOPNOTSUPP;
    // One kind for a host or network out of reach, a connect that timed out
    // and any failed read or write: only the words tell which.
    case QAbstractSocket::NetworkError: return ErrnoFromWords(words, kUnknownFailure);
    default: return kUnknownFailure;
  }
}

std::int32_t BluetoothErrorCode(QBluetoothSocket::SocketError error, const QString& words, bool open) {
  using E = QBluetoothSocket::SocketError;
  switch (error) {
    case E::RemoteHostClosedError: return open ? wcl::kClosedByPeer : ECONNRESET;
    case E::ServiceNotFoundError: return kServiceNotFound;
    case E::HostNotFoundError: return EHOSTDOWN;
    case E::MissingPermissionsError: return EACCES;
    case E::UnsupportedProtocolError: return EPROTONOSUPPORT;
    case E::NetworkError:
    case E::UnknownSocketError: break;
    default: return kUnknownFailure;
  }
  // BlueZ's sockets report every failed connect, read or write as one of
  // these two kinds with the system's words as the only trace of errno. A
  // read that found the link closed in order sets no errno, and Qt words
  // whatever an earlier call left there.
  const std::int32_t code = ErrnoFromWords(words, kUnknownFailure);
  if (open && (code == EAGAIN || words.trimmed().isEmpty())) return wcl::kClosedByPeer;
  return code;
}

int EnableKeepAlive(qintptr descriptor) {
  const int fd = static_cast<int>(descriptor);
  const int on = 1;
  const struct {
    int level, name, value;
  } options[] = {
      {SOL_SOCKET, SO_KEEPALIVE, on},
      {IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds},
      {IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds},
      {IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes},
  };
  for (const auto& o : options)
    if (setsockopt(fd, o.level, o.name, &o.value, sizeof(o.value)) != 0) return errno;
  return 0;
}

}  // namespace tarvik::lnx
