// What the network and Bluetooth sockets' failures mean as result codes, and
// the keep-alive of a network link.
#pragma once
#include <QAbstractSocket>
#include <QBluetoothSocket>
#include <QString>

#include <cstdint>

namespace tarvik::lnx {

// `open`: the failure ended an open link (a close by the reader is then
// wcl::kClosedByPeer); else it ended a connect. `words` (the socket's
// errorString) matter only for the kinds that stand for many errors.
std::int32_t TcpErrorCode(QAbstractSocket::SocketError error, const QString& words, bool open);
std::int32_t BluetoothErrorCode(QBluetoothSocket::SocketError error, const QString& words, bool open);

// SO_KEEPALIVE with kKeepAlive* on a connected TCP socket. 0, or the errno of
// the option the system refused.
int EnableKeepAlive(qintptr descriptor);

}  // namespace tarvik::lnx
