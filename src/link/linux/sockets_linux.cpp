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
    case QAbstractSocket::ConnectionRefusedError: return ErrnoFromWords(words, ECONNREFUSED);
    case QAbstractSocket::SocketAccessError: return ErrnoFromWords(words, EACCES);
    case QAbstractSocket::SocketResourceError: return ErrnoFromWords(words, ENOBUFS);
    case QAbstractSocket::SocketTimeoutError: return ErrnoFromWords(words, ETIMEDOUT);
    default: return ErrnoFromWords(words, kUnknownFailure);
  }
}

std::int32_t BluetoothErrorCode(QBluetoothSocket::SocketError error, const QString& words, bool open) {
  switch (error) {
    case QBluetoothSocket::SocketError::RemoteHostClosedError: return open ? wcl::kClosedByPeer : ECONNRESET;
    case QBluetoothSocket::SocketError::ServiceNotFoundError: return kServiceNotFound;
    case QBluetoothSocket::SocketError::HostNotFoundError: return ErrnoFromWords(words, EHOSTDOWN);
    default: break;
  }
  // A read that found the link closed in order sets no errno, and Qt words
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
