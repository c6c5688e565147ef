// One RemoteDesktop session of the desktop portal (org.freedesktop.portal.Desktop
// on the session bus), keyboard only. Each step is a call that returns a
// Request object whose Response signal brings the answer: CreateSession,
// SelectDevices, then Start, which shows the consent dialog unless a restore
// token from an earlier consent is accepted. All of it runs in the Qt event
// loop; nothing waits for the user.
#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <string>

#include "core/diagnostics.h"
#include "keys/linux/portal_keyboard_linux.h"

class QDBusPendingCallWatcher;

namespace tarvik::lnx {

class PortalSession : public QObject, public IRemoteKeys {
  Q_OBJECT

 public:
  PortalSession(RestoreTokenFile tokens, IDiagnostics& log);
  ~PortalSession() override;  // the session is closed on the desktop's side too

  // Asks for a session unless one is there or being asked for.
  void Begin();
  // Empty once keys can go. Otherwise why not; a session closed, refused or
  // not reached is asked for again.
  std::string WhyNotReady();
  bool NotifyKey(int evdevCode, bool down) override;

 private slots:
  void OnResponse(uint response, const QVariantMap& results);
  void OnClosed(const QVariantMap& details);

 private:
  enum class Stage { kIdle, kCreating, kSelecting, kStarting, kReady, kRefused, kAbsent };

  // Calls a RemoteDesktop method whose answer comes as a Response on the
  // Request object named by the handle token in `options`.
  void Ask(Stage stage, const QString& method, const QVariantList& leading, QVariantMap options);
  void Answered(QDBusPendingCallWatcher* call);
  void Listen(const QString& requestPath);
  void StopListening();
  void SelectDevices();
  void StartSession();
  void Failed(const std::string& what);
  void Forget();
  QString NextToken();

  RestoreTokenFile tokens_;
  IDiagnostics& log_;
  Stage stage_ = Stage::kIdle;
  QString session_;   // the session's object path, once created
  QString request_;   // the Request object whose Response is awaited
  QTimer retry_;      // while the portal cannot be reached
  unsigned counter_ = 0;
  bool absenceLogged_ = false;
  bool keyRefusalLogged_ = false;
};

}  // namespace tarvik::lnx
