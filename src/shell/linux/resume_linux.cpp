#include "shell/linux/resume_linux.h"

#include <QDBusConnection>
#include <QDBusError>

#include "core/linux/dialogs_linux.h"

namespace tarvik::lnx {

SleepWatcher::SleepWatcher(std::function<void()> onResumed) : onResumed_(std::move(onResumed)) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    problem_ = "No system bus (" + bus.lastError().message().toStdString() + ")";
    return;
  }
  if (!bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                   QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                   SLOT(PrepareForSleep(bool))))
    problem_ = "Watching logind failed (" + bus.lastError().message().toStdString() + ")";
}

void SleepWatcher::PrepareForSleep(bool goingToSleep) {
  if (goingToSleep) return;
  RunOrStop("Waking from sleep", [this] {
    if (onResumed_) onResumed_();
  });
}

}  // namespace tarvik::lnx
