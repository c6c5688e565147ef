#include "keys/linux/session_lock_linux.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tarvik::lnx {
namespace {

using Clock = std::chrono::steady_clock;

const QString kLogind = QString::fromLatin1(kLogindService);
const QString kManagerPath = QString::fromLatin1(kLogindManagerPath);
const QString kManager = QString::fromLatin1(kLogindManager);
const QString kSession = QString::fromLatin1(kLogindSession);
const QString kUser = QStringLiteral("org.freedesktop.login1.User");
const QString kProperties = QString::fromLatin1(kDBusProperties);
// logind's word for "no such object" in a path property.
const QString kNoPath = QStringLiteral("/");
constexpr char kLogindSource[] = "logind";
constexpr char kLockedHint[] = "LockedHint";
constexpr char kSaversSource[] = "the screen saver services";

// The screen savers' names on the session bus; each interface is named as
// its service. KDE serves the freedesktop one at both paths, others at one.
struct Saver {
  const char* name;
  const char* paths[2];
};
constexpr Saver kSavers[] = {
    {"org.freedesktop.ScreenSaver", {"/org/freedesktop/ScreenSaver", "/ScreenSaver"}},
    {"org.gnome.ScreenSaver", {"/org/gnome/ScreenSaver", nullptr}},
    {"org.mate.ScreenSaver", {"/org/mate/ScreenSaver", nullptr}},
    {"org.cinnamon.ScreenSaver", {"/org/cinnamon/ScreenSaver", nullptr}},
    {"org.xfce.ScreenSaver", {"/org/xfce/ScreenSaver", nullptr}},
};

// One call within the record's time, never starting a service that is not
// running. Its reply, or nothing and `why`.
// The session bus where one runs: named in the environment, or the user's
// own at $XDG_RUNTIME_DIR/bus. Never one started for the question: libdbus
// would otherwise autolaunch a bus daemon on the X display (dbus-launch) that
// outlives the program.
QDBusConnection SessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if ((address && *address) ||
      (runtime && *runtime && stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode)))
    return QDBusConnection::sessionBus();
  return QDBusConnection(QStringLiteral("tarvik-no-session-bus"));  // not connected
}

std::optional<QDBusMessage> Call(const QDBusConnection& bus, QDBusMessage call, LockDeadline deadline,
                                 std::string& why) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) {
    why = "no time was left to ask";
    return std::nullopt;
  }
  call.setAutoStartService(false);
  const QDBusMessage reply =
      bus.call(call, QDBus::Block, static_cast<int>(std::min(left, kLockCallLimit).count()));
  if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
    // A service's message can run to a traceback: its first line says enough.
    why = (reply.errorName() + QStringLiteral(": ") + reply.errorMessage().section(QLatin1Char('\n'), 0, 0))
              .toStdString();
    return std::nullopt;
  }
  return reply;
}

QVariant Property(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& iface, const QString& name, LockDeadline deadline, std::string& why) {
  QDBusMessage get = QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
  get << iface << name;
  const auto reply = Call(bus, get, deadline, why);
  return reply ? reply->arguments().front().value<QDBusVariant>().variant() : QVariant();
}

QString PathOf(const QDBusMessage& reply) {
  return reply.arguments().front().value<QDBusObjectPath>().path();
}

// The User object's Display: (session id, session path), "/" when it has none.
QString DisplaySession(const QDBusConnection& bus, LockDeadline deadline, std::string& why) {
  QDBusMessage getUser = QDBusMessage::createMethodCall(kLogind, kManagerPath, kManager,
                                                        QStringLiteral("GetUser"));
  getUser << static_cast<uint>(getuid());
  const auto user = Call(bus, getUser, deadline, why);
  if (!user) return {};
  const QVariant display =
      Property(bus, kLogind, PathOf(*user), kUser, QStringLiteral("Display"), deadline, why);
  if (!display.isValid()) return {};
  QString id;
  QDBusObjectPath path;
  const QDBusArgument arg = display.value<QDBusArgument>();
  arg.beginStructure();
  arg >> id >> path;
  arg.endStructure();
  if (path.path().isEmpty() || path.path() == kNoPath) {
    why = "the user has no display session";
    return {};
  }
  return path.path();
}

}  // namespace

std::optional<bool> LogindSessionFlag(const std::string& path, const char* name, LockDeadline deadline,
                                      std::string& why) {
  const QVariant flag = Property(QDBusConnection::systemBus(), kLogind, QString::fromStdString(path), kSession,
                                 QString::fromUtf8(name), deadline, why);
  if (!flag.isValid()) return std::nullopt;
  return flag.toBool();
}

std::optional<LogindSession> FindLogindSession(
    LockDeadline deadline, const std::function<bool(const std::string& path, std::string& why)>& usable,
    std::string& why) {
  const QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    why = "no system bus (" + bus.lastError().message().toStdString() + ")";
    return std::nullopt;
  }
  std::vector<std::pair<std::string, QString>> ids;  // how the session is named, the name
  if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id)
    ids.emplace_back(std::string("$XDG_SESSION_ID ") + id, QString::fromUtf8(id));
  ids.emplace_back("GetSession(\"auto\")", QStringLiteral("auto"));
  std::string whys;
  const auto tried = [&](const std::string& how, const QString& path, const std::string& failure) {
    std::string error = failure;
    if (!path.isEmpty() && usable(path.toStdString(), error)) return std::optional<LogindSession>({path.toStdString(), how});
    whys += (whys.empty() ? "" : ", ") + how + ": " + error;
    return std::optional<LogindSession>();
  };
  for (const auto& [how, id] : ids) {
    QDBusMessage get = QDBusMessage::createMethodCall(kLogind, kManagerPath, kManager,
                                                      QStringLiteral("GetSession"));
    get << id;
    std::string error;
    const auto reply = Call(bus, get, deadline, error);
    if (auto found = tried(how, reply ? PathOf(*reply) : QString(), error)) return found;
  }
  std::string error;
  const QString display = DisplaySession(bus, deadline, error);
  if (auto found = tried("the user's display session", display, error)) return found;
  why = "no session of this user's found (" + whys + ")";
  return std::nullopt;
}

std::optional<bool> LogindLock::Find(LockDeadline deadline, std::string& why) {
  std::optional<bool> hint;
  const auto found = FindLogindSession(
      deadline,
      [&](const std::string& path, std::string& error) {
        hint = LogindSessionFlag(path, kLockedHint, deadline, error);
        return hint.has_value();
      },
      why);
  if (!found) return std::nullopt;
  session_ = found->path;
  log_.Event("Session lock: logind's session " + session_ + " (" + found->how +
             ") is asked before each scan is typed");
  return hint;
}

LockReading LogindLock::Read(LockDeadline deadline) {
  LockReading r{kLogindSource};
  std::optional<bool> hint;
  if (!session_.empty()) {
    hint = LogindSessionFlag(session_, kLockedHint, deadline, r.why);
    if (!hint) {
      log_.Event("Session lock: logind's session " + session_ + " does not answer (" + r.why +
                 "); it is looked for again");
      session_.clear();
    }
  }
  if (!hint) hint = Find(deadline, r.why);
  if (!hint) return r;
  r.source = "logind's session " + session_;
  r.word = *hint ? LockWord::kLocked : LockWord::kUnlocked;
  r.why.clear();
  return r;
}

void ScreenSaverServices(LockDeadline deadline, std::vector<LockReading>& out) {
  const QDBusConnection bus = SessionBus();
  LockReading none{kSaversSource};
  if (!bus.isConnected()) {
    none.why = "no session bus";
    out.push_back(none);
    return;
  }
  const auto names = Call(bus,
                          QDBusMessage::createMethodCall(
                              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")),
                          deadline, none.why);
  if (!names) {
    out.push_back(none);
    return;
  }
  const QStringList owned = names->arguments().front().toStringList();
  bool any = false;
  for (const Saver& saver : kSavers) {
    const QString name = QString::fromLatin1(saver.name);
    if (!owned.contains(name)) continue;
    any = true;
    LockReading r{saver.name};
    for (const char* path : saver.paths) {
      if (!path) break;
      const auto active =
          Call(bus, QDBusMessage::createMethodCall(name, QString::fromLatin1(path), name,
                                                   QStringLiteral("GetActive")),
               deadline, r.why);
      if (!active) continue;
      r.word = active->arguments().front().toBool() ? LockWord::kLocked : LockWord::kUnlocked;
      r.why.clear();
      break;
    }
    out.push_back(r);
  }
  if (!any) {
    none.why = "none on the session bus";
    out.push_back(none);
  }
}

std::vector<LockReading> DesktopLockSources::Read() {
  const LockDeadline deadline = Clock::now() + kLockReadLimit;
  std::vector<LockReading> out{logind_.Read(deadline)};
  ScreenSaverServices(deadline, out);
  for (const Source& source : more_) out.push_back(source());
  return out;
}

}  // namespace tarvik::lnx
