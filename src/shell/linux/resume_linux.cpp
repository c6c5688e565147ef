#include "shell/linux/resume_linux.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusObjectPath>

#include "core/linux/dialogs_linux.h"
#include "keys/linux/session_lock_linux.h"

namespace tarvik::lnx {
namespace {

const QString kLogind = QString::fromLatin1(kLogindService);
const QString kSessionInterface = QString::fromLatin1(kLogindSession);
const QString kProperties = QString::fromLatin1(kDBusProperties);
constexpr char kActive[] = "Active";

}  // namespace

SleepWatcher::SleepWatcher(std::function<void()> onResumed) : onResumed_(std::move(onResumed)) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    problem_ = "No system bus (" + bus.lastError().message().toStdString() + ")";
    return;
  }
  if (!bus.connect(kLogind, QString::fromLatin1(kLogindManagerPath),
                   QString::fromLatin1(kLogindManager), QStringLiteral("PrepareForSleep"), this,
                   SLOT(PrepareForSleep(bool))))
    problem_ = "Watching logind failed (" + bus.lastError().message().toStdString() + ")";
}

void SleepWatcher::PrepareForSleep(bool goingToSleep) {
  if (goingToSleep) return;
  RunOrStop("Waking from sleep", [this] {
    if (onResumed_) onResumed_();
  });
}

void FrontWatcher::Start() {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!session_.empty()) {
    bus.disconnect(kLogind, QString::fromStdString(session_), kProperties, QStringLiteral("PropertiesChanged"),
                   this, SLOT(Changed(QString, QVariantMap, QStringList)));
    session_.clear();
  } else {
    if (!bus.connect(kLogind, QString::fromLatin1(kLogindManagerPath), QString::fromLatin1(kLogindManager),
                     QStringLiteral("SessionRemoved"), this, SLOT(SessionRemoved(QDBusMessage))))
      log_.Event("Session in front: the end of sessions cannot be followed (" + bus.lastError().message().toStdString() + ")");
  }
  std::string why;
  std::optional<bool> active;
  const auto found = FindLogindSession(
      std::chrono::steady_clock::now() + kLockReadLimit,
      [&](const std::string& path, std::string& error) {
        active = LogindSessionFlag(path, kActive, std::chrono::steady_clock::now() + kLockCallLimit, error);
        return active.has_value();
      },
      why);
  if (!found) {
    log_.Event("Session in front: not known (" + why + "): the link is kept whichever session is in front");
    return Report(true);
  }
  // Subscribed before the state is told, so no switch falls between the two.
  if (!bus.connect(kLogind, QString::fromStdString(found->path), kProperties,
                   QStringLiteral("PropertiesChanged"), this,
                   SLOT(Changed(QString, QVariantMap, QStringList)))) {
    log_.Event("Session in front: logind's session " + found->path + " cannot be followed (" +
               bus.lastError().message().toStdString() + "): the link is kept whichever session is in front");
    return Report(true);
  }
  session_ = found->path;
  log_.Event("Session in front: logind's session " + session_ + " (" + found->how + ") is followed");
  Report(*active);
}

void FrontWatcher::Changed(const QString& interface, const QVariantMap& changed, const QStringList& invalidated) {
  if (interface != kSessionInterface) return;
  const QString active = QString::fromUtf8(kActive);
  if (changed.contains(active)) return Report(changed.value(active).toBool());
  if (!invalidated.contains(active)) return;
  std::string why;
  const auto now = LogindSessionFlag(session_, kActive, std::chrono::steady_clock::now() + kLockCallLimit, why);
  if (now) Report(*now);
  else log_.Event("Session in front: logind's session " + session_ + " does not say whether it is active (" + why + ")");
}

void FrontWatcher::SessionRemoved(const QDBusMessage& signal) {
  const QVariantList args = signal.arguments();  // (session id, session path)
  if (session_.empty() || args.size() < 2 || args.at(1).value<QDBusObjectPath>().path().toStdString() != session_)
    return;
  log_.Event("Session in front: logind's session " + session_ + " has ended; it is looked for again");
  Start();
}

void FrontWatcher::Report(bool active) {
  RunOrStop("The session in front", [this, active] {
    if (onFront_) onFront_(active);
  });
}

}  // namespace tarvik::lnx
