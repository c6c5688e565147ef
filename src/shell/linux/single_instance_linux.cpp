#include "shell/linux/single_instance_linux.h"

#include <QLocalSocket>
#include <QThread>

#include "core/linux/dialogs_linux.h"

namespace tarvik::lnx {
namespace {

constexpr char kBringBack[] = "BringBack\n";
constexpr int kWriteLimitMs = 1000;

QString InPlace(const RuntimePlace& place, const char* name) {
  return QString::fromStdString(place.folder + "/" + place.prefix + name);
}

}  // namespace

SingleInstance::SingleInstance(const RuntimePlace& place)
    : lockPath_(InPlace(place, "tarvik.lock")),
      socketPath_(InPlace(place, "tarvik.socket")),
      lock_(lockPath_) {
  // A lock is stale only when the copy that wrote it is gone, never by age.
  lock_.setStaleLockTime(0);
}

bool SingleInstance::TakeLock(std::string& problem) {
  if (lock_.tryLock(0)) return true;
  if (lock_.error() == QLockFile::LockFailedError) return false;
  problem = "The lock " + lockPath_.toStdString() + " could not be made (" +
            (lock_.error() == QLockFile::PermissionError ? "no permission" : "unknown error") +
            "): a second copy would not be noticed";
  return true;
}

bool SingleInstance::HandOver() {
  const auto tries = kHandOverLimit / kHandOverRetry;
  for (int i = 0; i < tries; ++i) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(static_cast<int>(kHandOverRetry.count()))) {
      socket.write(kBringBack);
      socket.waitForBytesWritten(kWriteLimitMs);
      socket.disconnectFromServer();
      return true;
    }
    // Not listening yet: a local socket refuses at once, so wait between tries.
    QThread::msleep(static_cast<unsigned long>(kHandOverRetry.count()));
  }
  return false;
}

bool SingleInstance::Listen(std::function<void()> onBringBack, std::string& problem) {
  onBringBack_ = std::move(onBringBack);
  // The lock is ours, so a socket left there belongs to a copy that died.
  QLocalServer::removeServer(socketPath_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(socketPath_)) {
    problem = "Listening on " + socketPath_.toStdString() + " failed: " + server_.errorString().toStdString();
    return false;
  }
  QObject::connect(&server_, &QLocalServer::newConnection, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        while (socket->canReadLine()) {
          if (socket->readLine() != kBringBack) continue;
          RunOrStop("Bringing the window back for a second copy", [this] {
            if (onBringBack_) onBringBack_();
          });
        }
      });
    }
  });
  return true;
}

}  // namespace tarvik::lnx
