// What logind tells about this program's session on Linux: waking from
// sleep (PrepareForSleep(false) on the system bus), and whether the session
// is the one in front (its Active property: false while another user's
// session, or another virtual terminal, has the screen and the keyboard).
// Without a system bus (a container, a minimal session) nothing is heard:
// an open link that died in the sleep is found by its own keep-alive, and
// the session counts as in front.
#pragma once
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <string>

#include "core/diagnostics.h"

namespace tarvik::lnx {

class SleepWatcher : public QObject {
  Q_OBJECT

 public:
  explicit SleepWatcher(std::function<void()> onResumed);
  // Empty when the signal is watched, else why not.
  const std::string& Problem() const { return problem_; }

 private slots:
  void PrepareForSleep(bool goingToSleep);

 private:
  std::function<void()> onResumed_;
  std::string problem_;
};

// The session's Active property, read once at Start and then followed
// through logind's PropertiesChanged signal (logind sends it on every switch;
// nothing is polled). `onFront` hears the state at the start and each change.
// A session that ends (a program outside any session follows the user's
// display session, which a logout ends) is looked for again; where none is
// found then, the session counts as in front.
class FrontWatcher : public QObject {
  Q_OBJECT

 public:
  FrontWatcher(std::function<void(bool front)> onFront, IDiagnostics& log)
      : onFront_(std::move(onFront)), log_(log) {}
  // Finds the session the way the lock check does and starts following it;
  // where none is found, says so in the log and reports nothing.
  void Start();

 private slots:
  void Changed(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
  void SessionRemoved(const QDBusMessage& signal);

 private:
  void Report(bool active);

  std::function<void(bool)> onFront_;
  IDiagnostics& log_;
  std::string session_;
};

}  // namespace tarvik::lnx
