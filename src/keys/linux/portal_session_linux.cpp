#include "keys/linux/portal_session_linux.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace tarvik::lnx {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kRequestFolder = QStringLiteral("/org/freedesktop/portal/desktop/request/");

// The device types and persist modes of SelectDevices.
constexpr uint kKeyboardDevice = 1;
constexpr uint kPersistUntilRevoked = 2;
// Response codes of a Request: 0 granted; 1 the user cancelled; 2 otherwise ended.
constexpr uint kResponseGranted = 0;
// A call the portal does not answer in this time has failed. The consent
// dialog is not waited for here: its answer is a signal, not the reply.
constexpr int kCallTimeoutMs = 10000;
// A key is a short call to the compositor.
constexpr int kKeyTimeoutMs = 2000;
constexpr int kRetryMs = 5000;

// The portal names a Request object after the caller's unique bus name
// (":1.42" -> "1_42") and the token the caller chose, so the caller can
// listen for its Response before the call, which may answer at once.
QString RequestPath(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService();
  if (sender.startsWith(u':')) sender.remove(0, 1);
  sender.replace(u'.', u'_');
  return kRequestFolder + sender + u'/' + token;
}

// Older portals give the session handle as an object path, newer as a string.
QString PathOf(const QVariant& v) {
  if (v.userType() == qMetaTypeId<QDBusObjectPath>()) return v.value<QDBusObjectPath>().path();
  return v.toString();
}

std::string Text(const QString& s) { return s.toStdString(); }

}  // namespace

PortalSession::PortalSession(RestoreTokenFile tokens, IDiagnostics& log)
    : tokens_(std::move(tokens)), log_(log) {
  retry_.setSingleShot(true);
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, [this] {
    if (stage_ == Stage::kAbsent) Begin();
  });
}

PortalSession::~PortalSession() { Forget(); }

QString PortalSession::NextToken() { return QStringLiteral("tarvik%1").arg(++counter_); }

void PortalSession::Begin() {
  if (stage_ != Stage::kIdle && stage_ != Stage::kRefused && stage_ != Stage::kAbsent) return;
  retry_.stop();
  Forget();
  if (!absenceLogged_) log_.Event("Desktop portal: asking for a remote desktop session to type keys");
  QVariantMap options;
  options.insert(QStringLiteral("session_handle_token"), NextToken());
  Ask(Stage::kCreating, QStringLiteral("CreateSession"), {}, options);
}

void PortalSession::Ask(Stage stage, const QString& method, const QVariantList& leading,
                        QVariantMap options) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    Failed("no session bus (" + Text(bus.lastError().message()) + ")");
    return;
  }
  const QString token = NextToken();
  options.insert(QStringLiteral("handle_token"), token);
  Listen(RequestPath(bus, token));
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
  QVariantList args = leading;
  args << options;
  call.setArguments(args);
  stage_ = stage;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
  const unsigned asked = counter_;
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, asked, method](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    if (asked != counter_) return;  // a later step or a new session has taken over
    QDBusPendingReply<QDBusObjectPath> reply = *w;
    if (reply.isError()) {
      Failed(Text(method) + " failed: " + Text(reply.error().name()) + ": " +
             Text(reply.error().message()));
      return;
    }
    // A portal older than the handle tokens names another Request object.
    if (reply.value().path() != request_) Listen(reply.value().path());
  });
}

void PortalSession::Listen(const QString& requestPath) {
  StopListening();
  request_ = requestPath;
  QDBusConnection::sessionBus().connect(QString(), request_, kRequest, QStringLiteral("Response"), this,
                                        SLOT(OnResponse(uint, QVariantMap)));
}

void PortalSession::StopListening() {
  if (request_.isEmpty()) return;
  QDBusConnection::sessionBus().disconnect(QString(), request_, kRequest, QStringLiteral("Response"),
                                           this, SLOT(OnResponse(uint, QVariantMap)));
  request_.clear();
}

void PortalSession::OnResponse(uint response, const QVariantMap& results) {
  StopListening();
  const Stage stage = std::exchange(stage_, Stage::kIdle);
  switch (stage) {
    case Stage::kCreating:
      if (response != kResponseGranted) {
        Failed("CreateSession was answered with response " + std::to_string(response));
        return;
      }
      session_ = PathOf(results.value(QStringLiteral("session_handle")));
      QDBusConnection::sessionBus().connect(QString(), session_, kSession, QStringLiteral("Closed"),
                                            this, SLOT(OnClosed(QVariantMap)));
      SelectDevices();
      return;
    case Stage::kSelecting:
      if (response != kResponseGranted) {
        Failed("SelectDevices was answered with response " + std::to_string(response));
        return;
      }
      StartSession();
      return;
    case Stage::kStarting: {
      // A token is good for one Start: the one passed is spent, the new one
      // (none after a refusal) replaces it.
      std::string why;
      const QString token = results.value(QStringLiteral("restore_token")).toString();
      if (!tokens_.Write(Text(token), why))
        log_.Event("Desktop portal: the restore token could not be kept (" + why + ")");
      else if (!token.isEmpty())
        log_.Event("Desktop portal: a new restore token is kept in " + tokens_.Path());
      else if (response == kResponseGranted)
        log_.Event("Desktop portal: the desktop gave no restore token; it decides again at the next "
                   "start (GNOME before 45 asks the user each time)");
      const uint devices = results.value(QStringLiteral("devices")).toUInt();
      if (response != kResponseGranted || !(devices & kKeyboardDevice)) {
        stage_ = Stage::kRefused;
        log_.Event(response != kResponseGranted
                       ? "Desktop portal: typing was not allowed (response " + std::to_string(response) +
                             "); asked again when a scan arrives"
                       : "Desktop portal: the desktop gave no keyboard; asked again when a scan arrives");
        return;
      }
      stage_ = Stage::kReady;
      absenceLogged_ = keyRefusalLogged_ = false;
      log_.Event("Desktop portal: typing allowed; keys go to the desktop as a remote keyboard");
      return;
    }
    default:
      stage_ = stage;  // not asked for: nothing changes
      return;
  }
}

void PortalSession::SelectDevices() {
  QVariantMap options;
  options.insert(QStringLiteral("types"), QVariant::fromValue(kKeyboardDevice));
  options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(kPersistUntilRevoked));
  const std::string token = tokens_.Read();
  if (!token.empty()) options.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
  log_.Event(token.empty()
                 ? "Desktop portal: session created; selecting the keyboard (no restore token kept)"
                 : "Desktop portal: session created; selecting the keyboard with the restore token "
                   "of an earlier consent");
  Ask(Stage::kSelecting, QStringLiteral("SelectDevices"),
      {QVariant::fromValue(QDBusObjectPath(session_))}, options);
}

void PortalSession::StartSession() {
  log_.Event("Desktop portal: starting the session (some desktops ask the user to allow typing, "
             "others allow a keyboard at once)");
  Ask(Stage::kStarting, QStringLiteral("Start"),
      {QVariant::fromValue(QDBusObjectPath(session_)), QString()}, {});
}

void PortalSession::OnClosed(const QVariantMap&) {
  session_.clear();  // closed already: nothing to close
  Forget();
  // GNOME closes a session as soon as the user refused it: that stays a refusal.
  if (stage_ == Stage::kRefused) return;
  log_.Event("Desktop portal: the desktop closed the session; a new one is asked for at the next scan");
  stage_ = Stage::kIdle;
}

void PortalSession::Failed(const std::string& what) {
  Forget();
  stage_ = Stage::kAbsent;
  if (!absenceLogged_)
    log_.Event("Desktop portal: not reached (" + what + "); asked again every " +
               std::to_string(kRetryMs / 1000) + " s and when a scan arrives");
  absenceLogged_ = true;
  retry_.start();
}

// Drops the session and any answer still on its way.
void PortalSession::Forget() {
  StopListening();
  ++counter_;
  if (session_.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.disconnect(QString(), session_, kSession, QStringLiteral("Closed"), this, SLOT(OnClosed(QVariantMap)));
  bus.send(QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close")));
  session_.clear();
}

std::string PortalSession::WhyNotReady() {
  switch (stage_) {
    case Stage::kReady:
      return {};
    case Stage::kCreating:
    case Stage::kSelecting:
      return "the desktop's portal has not yet opened a session for Tarvik's keys";
    case Stage::kStarting:
      return "the desktop has not yet answered whether Tarvik may type";
    case Stage::kRefused:
      Begin();
      return "the desktop did not allow Tarvik to type; it is asked again";
    case Stage::kAbsent:
      Begin();
      return "the desktop's portal for remote keyboards (xdg-desktop-portal) cannot be reached";
    case Stage::kIdle:
      Begin();
      return "the desktop closed Tarvik's typing session; a new one is asked for";
  }
  return {};
}

bool PortalSession::NotifyKey(int evdevCode, bool down) {
  if (stage_ != Stage::kReady) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop,
                                                     QStringLiteral("NotifyKeyboardKeycode"));
  call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap() << evdevCode
       << static_cast<uint>(down ? 1 : 0);
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kKeyTimeoutMs);
  if (reply.type() != QDBusMessage::ErrorMessage) return true;
  if (!std::exchange(keyRefusalLogged_, true))
    log_.Event("Desktop portal: a key was refused (" + Text(reply.errorName()) + ": " +
               Text(reply.errorMessage()) + "); a new session is asked for at the next scan");
  Forget();
  stage_ = Stage::kIdle;
  return false;
}

}  // namespace tarvik::lnx
