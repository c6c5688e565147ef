#include "wedge/linux/session_lock_linux.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <cstdlib>

namespace tarvik::lnx {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// logind answers at once; one that does not is taken as not there.
constexpr int kCallTimeoutMs = 1000;

std::string ErrorOf(const QDBusMessage& reply) {
  return (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
}

}  // namespace

void LogindSessionLock::Unknown(const std::string& why) {
  session_.clear();
  if (std::exchange(unknownLogged_, true)) return;
  log_.Event("Session lock: " + why + "; the session is taken as never locked");
}

bool LogindSessionLock::FindSession() {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    Unknown("no system bus (" + bus.lastError().message().toStdString() + ")");
    return false;
  }
  const char* id = std::getenv("XDG_SESSION_ID");
  QDBusMessage call;
  if (id && *id) {
    call = QDBusMessage::createMethodCall(kLogind, kManagerPath, kManager, QStringLiteral("GetSession"));
    call << QString::fromUtf8(id);
  } else {
    call = QDBusMessage::createMethodCall(kLogind, kManagerPath, kManager,
                                          QStringLiteral("GetSessionByPID"));
    call << static_cast<uint>(getpid());
  }
  const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
    Unknown("logind did not name this program's session (" + ErrorOf(reply) + ")");
    return false;
  }
  session_ = reply.arguments().front().value<QDBusObjectPath>().path().toStdString();
  log_.Event("Session lock: logind's session " + session_ + " is asked before each scan is typed");
  unknownLogged_ = false;
  return true;
}

bool LogindSessionLock::Locked() {
  if (session_.empty() && !FindSession()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kLogind, QString::fromStdString(session_),
                                                     kProperties, QStringLiteral("Get"));
  call << kSession << QStringLiteral("LockedHint");
  const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
    Unknown("logind's LockedHint could not be read (" + ErrorOf(reply) + ")");
    return false;
  }
  return reply.arguments().front().value<QDBusVariant>().variant().toBool();
}

KeyTarget LockAwareKeyTarget::Query() const {
  KeyTarget t = inner_.Query();
  if (lock_.Locked()) t.inputDesktopIsOurs = false;
  return t;
}

}  // namespace tarvik::lnx
