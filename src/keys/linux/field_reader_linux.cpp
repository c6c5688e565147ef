#include "keys/linux/field_reader_linux.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>

#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace tarvik::lnx {
namespace {

using std::chrono::milliseconds;

const QString kConnectionName = QStringLiteral("tarvik-accessibility");
const QString kLauncher = QStringLiteral("org.a11y.Bus");
const QString kLauncherPath = QStringLiteral("/org/a11y/bus");
const QString kStatus = QStringLiteral("org.a11y.Status");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kRegistryPath = QStringLiteral("/org/a11y/atspi/registry");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kText = QStringLiteral("org.a11y.atspi.Text");
const QString kObjectEvents = QStringLiteral("org.a11y.atspi.Event.Object");
const QString kFocusEvent = QStringLiteral("object:state-changed:focused");
const QString kDBus = QStringLiteral("org.freedesktop.DBus");
const QString kDBusPath = QStringLiteral("/org/freedesktop/DBus");

// AT-SPI's state bits (GetState gives them as two 32-bit words) and roles.
constexpr int kStateActive = 1;
constexpr int kStateEditable = 7;
constexpr int kStateFocused = 12;
constexpr int kStateManagesDescendants = 31;
constexpr uint kRolePasswordText = 40;
constexpr uint kRoleTerminal = 60;
constexpr int kBitsPerWord = 32;

// The settings calls at start and exit go to the launcher, a local daemon.
constexpr int kStatusTimeoutMs = 1000;

bool Has(const std::vector<uint>& words, int bit) {
  const auto word = static_cast<std::size_t>(bit / kBitsPerWord);
  return word < words.size() && (words[word] >> (bit % kBitsPerWord) & 1u) != 0;
}

// One call among several sent at once: all go out, then their answers are
// awaited together, so a read costs about one round trip to the
// application per step, not one per question.
class Batch {
 public:
  Batch(const QDBusConnection& bus, std::chrono::steady_clock::time_point deadline)
      : bus_(bus), deadline_(deadline) {}
  std::size_t Ask(const QString& service, const QString& path, const QString& iface,
                  const QString& method, const QVariantList& args = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, iface, method);
    m.setArguments(args);
    const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - std::chrono::steady_clock::now());
    calls_.push_back(bus_.asyncCall(m, static_cast<int>(std::max<long long>(1, left.count()))));
    return calls_.size() - 1;
  }
  std::size_t Property(const QString& service, const QString& path, const QString& iface,
                       const QString& name) {
    return Ask(service, path, kProperties, QStringLiteral("Get"), {iface, name});
  }
  // The answer's arguments; empty after an error. timedOut: no answer in time.
  QVariantList Answer(std::size_t i) {
    calls_[i].waitForFinished();
    const QDBusMessage r = calls_[i].reply();
    if (r.type() != QDBusMessage::ReplyMessage) {
      const QDBusError::ErrorType e = calls_[i].error().type();
      if (e == QDBusError::NoReply || e == QDBusError::Timeout || e == QDBusError::TimedOut) timedOut = true;
      return {};
    }
    return r.arguments();
  }
  bool timedOut = false;

 private:
  QDBusConnection bus_;
  std::chrono::steady_clock::time_point deadline_;
  std::vector<QDBusPendingCall> calls_;
};

QVariant Unwrap(const QVariantList& args) {
  if (args.isEmpty()) return {};
  const QVariant v = args.first();
  return v.canConvert<QDBusVariant>() ? v.value<QDBusVariant>().variant() : v;
}

std::optional<int> IntOf(const QVariantList& args) {
  const QVariant v = Unwrap(args);
  bool ok = false;
  const int n = v.toInt(&ok);
  return ok ? std::optional<int>(n) : std::nullopt;
}

std::vector<uint> StateOf(const QVariantList& args) {
  std::vector<uint> words;
  if (args.isEmpty()) return words;
  for (uint w : qdbus_cast<QList<uint>>(args.first())) words.push_back(w);
  return words;
}

struct Ref {
  QString bus, path;
};

std::vector<Ref> ChildrenOf(const QVariantList& args) {
  std::vector<Ref> out;
  if (args.isEmpty() || !args.first().canConvert<QDBusArgument>()) return out;
  const QDBusArgument a = args.first().value<QDBusArgument>();
  a.beginArray();
  while (!a.atEnd()) {
    Ref r;
    QDBusObjectPath p;
    a.beginStructure();
    a >> r.bus >> p;
    a.endStructure();
    r.path = p.path();
    out.push_back(r);
  }
  a.endArray();
  return out;
}

// What a step that ran out of time leaves in `why`, made into words with the
// limit once the read ends.
const std::string kTimedOut = "timeout";

std::string NoAnswer(milliseconds limit) {
  return "no answer within " + std::to_string(limit.count()) + " ms";
}

}  // namespace

AtSpiFieldReader::AtSpiFieldReader(IDiagnostics& log)
    : log_(log), bus_(QDBusConnection(QString())) {
  EnableToolkits();
  std::string why;
  if (!Attach(Clock::now() + kAttachWait, why)) {
    log_.Event("Typed scans cannot be read back here: " + why);
  }
}

AtSpiFieldReader::~AtSpiFieldReader() {
  if (attached_) QDBusConnection::disconnectFromBus(kConnectionName);
  if (!weEnabled_) return;
  // A screen reader started meanwhile needs the toolkits to go on serving it.
  QDBusConnection session = QDBusConnection::sessionBus();
  QDBusMessage get = QDBusMessage::createMethodCall(kLauncher, kLauncherPath, kProperties, QStringLiteral("Get"));
  get.setArguments({kStatus, QStringLiteral("ScreenReaderEnabled")});
  const QDBusMessage r = session.call(get, QDBus::Block, kStatusTimeoutMs);
  if (r.type() == QDBusMessage::ReplyMessage && Unwrap(r.arguments()).toBool()) return;
  QDBusMessage set = QDBusMessage::createMethodCall(kLauncher, kLauncherPath, kProperties, QStringLiteral("Set"));
  set.setArguments({kStatus, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(false))});
  session.call(set, QDBus::Block, kStatusTimeoutMs);
}

// Qt 6 and Chromium serve their accessible tree only while IsEnabled is on
// (GTK 3 serves it whenever atk-bridge is loaded, which GTK does by itself).
// Without it their fields could never be read back, and every scan into
// them would be reported as one that cannot be checked.
void AtSpiFieldReader::EnableToolkits() {
  QDBusConnection session = QDBusConnection::sessionBus();
  if (!session.isConnected()) return;
  QDBusMessage get = QDBusMessage::createMethodCall(kLauncher, kLauncherPath, kProperties, QStringLiteral("Get"));
  get.setArguments({kStatus, QStringLiteral("IsEnabled")});
  const QDBusMessage r = session.call(get, QDBus::Block, kStatusTimeoutMs);
  if (r.type() != QDBusMessage::ReplyMessage || Unwrap(r.arguments()).toBool()) return;
  QDBusMessage set = QDBusMessage::createMethodCall(kLauncher, kLauncherPath, kProperties, QStringLiteral("Set"));
  set.setArguments({kStatus, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true))});
  const QDBusMessage s = session.call(set, QDBus::Block, kStatusTimeoutMs);
  // The launcher keeps the setting in GSettings: where that cannot be
  // written (no dconf service) the call succeeds and nothing changes.
  const QDBusMessage again = session.call(get, QDBus::Block, kStatusTimeoutMs);
  if (s.type() != QDBusMessage::ReplyMessage || again.type() != QDBusMessage::ReplyMessage ||
      !Unwrap(again.arguments()).toBool()) {
    const std::string why = s.type() != QDBusMessage::ReplyMessage ? s.errorMessage().toStdString()
                                                                   : "the setting did not take";
    log_.Event("Could not turn on the desktop's accessibility (" + why +
               "): fields of Qt and Chromium programs cannot be read back");
    return;
  }
  weEnabled_ = true;
  log_.Event("Turned on the desktop's accessibility (org.a11y.Status IsEnabled) so that Qt and Chromium "
             "programs show their fields for reading back; programs started before may still hide them");
}

bool AtSpiFieldReader::Attach(Clock::time_point deadline, std::string& why) {
  if (attached_ && bus_.isConnected()) return true;
  if (attached_) QDBusConnection::disconnectFromBus(kConnectionName);
  attached_ = false;
  nextAttach_ = Clock::now() + kAttachRetry;
  QDBusConnection session = QDBusConnection::sessionBus();
  if (!session.isConnected()) {
    why = "no session bus";
    return false;
  }
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  const QDBusMessage r = session.call(QDBusMessage::createMethodCall(kLauncher, kLauncherPath, kLauncher,
                                                                     QStringLiteral("GetAddress")),
                                      QDBus::Block, static_cast<int>(std::max<long long>(1, left.count())));
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) {
    why = "no accessibility bus (" + r.errorMessage().toStdString() + ")";
    return false;
  }
  bus_ = QDBusConnection::connectToBus(r.arguments().first().toString(), kConnectionName);
  if (!bus_.isConnected()) {
    why = "the accessibility bus refused a connection (" + bus_.lastError().message().toStdString() + ")";
    QDBusConnection::disconnectFromBus(kConnectionName);
    return false;
  }
  attached_ = true;
  searchDue_ = true;
  bus_.connect(QString(), QString(), kObjectEvents, QStringLiteral("StateChanged"), this,
               SLOT(OnStateChanged(QDBusMessage)));
  // Bridges send events only of the kinds some listener has asked the
  // registry for.
  QDBusMessage reg = QDBusMessage::createMethodCall(kRegistry, kRegistryPath, kRegistry,
                                                    QStringLiteral("RegisterEvent"));
  reg.setArguments({kFocusEvent, QStringList(), QString()});
  bus_.asyncCall(reg);
  return true;
}

void AtSpiFieldReader::OnStateChanged(const QDBusMessage& event) {
  const QVariantList args = event.arguments();
  if (args.size() < 2 || args[0].toString() != QStringLiteral("focused")) return;
  const Object o{event.service(), event.path()};
  if (args[1].toInt() != 0) {
    focused_ = o;
  } else if (focused_ == o) {
    focused_.reset();
  }
}

FieldReading AtSpiFieldReader::Read(milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  if (!attached_ || !bus_.isConnected()) {
    FieldReading none;
    if (Clock::now() < nextAttach_ || !Attach(deadline, none.why)) {
      if (none.why.empty()) none.why = "no accessibility bus";
      return none;
    }
  }
  FieldReading r = ReadFocused(deadline);
  if (r.why == kTimedOut) r.why = NoAnswer(limit);
  return r;
}

FieldReading AtSpiFieldReader::ReadFocused(Clock::time_point deadline) {
  if (focused_) {
    bool notFocused = false;
    FieldReading r = ReadObject(*focused_, deadline, notFocused);
    if (!notFocused) return r;
    focused_.reset();
  }
  FieldReading none;
  // The tree is searched once, for a focus given before we listened: after
  // that the events name every accessible field that takes the focus, and
  // where none did the focus is in a program that shows none. Searching at
  // every scan would cost each scan into such a program (an Xlib window, a
  // terminal) tens of milliseconds before its first key.
  if (std::exchange(searchDue_, false)) focused_ = SearchFocused(deadline, none.why);
  if (!focused_) {
    if (none.why.empty()) none.why = "no accessible field has the focus (a terminal, or a program without accessibility)";
    return none;
  }
  bool notFocused = false;
  return ReadObject(*focused_, deadline, notFocused);
}

// The object's state, role, text and caret in one round trip. The text is
// asked for only up to one character past the limit, so that a long
// document costs no more than a field; a toolkit that refuses an end past
// the text is asked again for all of it once its length is known. A password
// field's text is dropped unread (toolkits give it masked anyway).
FieldReading AtSpiFieldReader::ReadObject(const Object& o, Clock::time_point deadline, bool& notFocused) {
  FieldReading out;
  out.which = o.bus.toStdString() + o.path.toStdString();
  // Our own program (Qt serves it too when accessibility is on) is never the
  // target of our keys, and its bridge would answer only once this read is
  // over: its objects are never asked.
  if (!processes_.contains(o.bus)) {
    Batch owner(bus_, deadline);
    const QVariantList pid = owner.Answer(owner.Ask(kDBus, kDBusPath, kDBus, QStringLiteral("GetConnectionUnixProcessID"), {o.bus}));
    if (!pid.isEmpty()) processes_.insert(o.bus, Unwrap(pid).toLongLong());
  }
  if (processes_.value(o.bus, getpid()) == getpid()) {
    notFocused = true;
    out.why = "the focused field went away";
    return out;
  }
  Batch first(bus_, deadline);
  const auto state = first.Ask(o.bus, o.path, kAccessible, QStringLiteral("GetState"));
  const auto role = first.Ask(o.bus, o.path, kAccessible, QStringLiteral("GetRole"));
  const auto count = first.Property(o.bus, o.path, kText, QStringLiteral("CharacterCount"));
  const auto caret = first.Property(o.bus, o.path, kText, QStringLiteral("CaretOffset"));
  const auto nsel = first.Ask(o.bus, o.path, kText, QStringLiteral("GetNSelections"));
  const auto sel = first.Ask(o.bus, o.path, kText, QStringLiteral("GetSelection"), {0});
  const auto text = first.Ask(o.bus, o.path, kText, QStringLiteral("GetText"),
                              {0, static_cast<int>(kFieldReadLimit + 1)});
  const std::vector<uint> words = StateOf(first.Answer(state));
  const QVariantList roleArgs = first.Answer(role);
  const std::optional<int> length = IntOf(first.Answer(count));
  const std::optional<int> caretAt = IntOf(first.Answer(caret));
  const std::optional<int> selections = IntOf(first.Answer(nsel));
  const QVariantList selArgs = first.Answer(sel);
  QVariantList textArgs = first.Answer(text);
  if (first.timedOut && words.empty()) {
    out.why = kTimedOut;
    return out;
  }
  if (words.empty() || !Has(words, kStateFocused)) {
    notFocused = true;
    out.why = "the focused field went away";
    return out;
  }
  const uint roleOf = roleArgs.isEmpty() ? 0 : roleArgs.first().toUInt();
  if (roleOf == kRolePasswordText) {
    out.why = "a password field";
    return out;
  }
  if (roleOf == kRoleTerminal) {
    out.why = "a terminal";
    return out;
  }
  if (!length || !caretAt) {
    out.why = first.timedOut ? kTimedOut : "the focused object holds no text";
    return out;
  }
  if (!Has(words, kStateEditable)) {
    out.why = "the focused object is not an editable field";
    return out;
  }
  if (*length < 0 || static_cast<std::size_t>(*length) > kFieldReadLimit) {
    out.why = "a field too long to read back";
    return out;
  }
  if (textArgs.isEmpty() && !first.timedOut) {
    Batch second(bus_, deadline);
    textArgs = second.Answer(second.Ask(o.bus, o.path, kText, QStringLiteral("GetText"), {0, -1}));
    first.timedOut = second.timedOut;
  }
  if (textArgs.isEmpty()) {
    out.why = first.timedOut ? kTimedOut : "the field's text could not be read";
    return out;
  }
  FieldText f;
  f.text = textArgs.first().toString().toStdU32String();
  if (f.text.size() > kFieldReadLimit) {
    out.why = "a field too long to read back";
    return out;
  }
  const std::size_t size = f.text.size();
  const auto clamp = [size](int at) { return std::min<std::size_t>(static_cast<std::size_t>(std::max(0, at)), size); };
  f.selStart = f.selEnd = clamp(*caretAt);
  if (selections.value_or(0) > 0 && selArgs.size() >= 2) {
    const std::size_t a = clamp(selArgs[0].toInt()), b = clamp(selArgs[1].toInt());
    if (a != b) {
      f.selStart = std::min(a, b);
      f.selEnd = std::max(a, b);
    }
  }
  out.field = std::move(f);
  return out;
}

// The focused object where no event named it: the application whose window
// is active, then that window's tree, a level at a time, each level's
// questions sent at once.
std::optional<AtSpiFieldReader::Object> AtSpiFieldReader::SearchFocused(Clock::time_point deadline,
                                                                      std::string& why) {
  Batch apps(bus_, deadline);
  const std::vector<Ref> list = ChildrenOf(apps.Answer(apps.Ask(kRegistry, kRootPath, kAccessible,
                                                                QStringLiteral("GetChildren"))));
  // Our own program is left out before it is asked anything: its bridge
  // answers on the thread that is waiting here.
  Batch owners(bus_, deadline);
  std::vector<std::pair<const Ref*, std::size_t>> unknown;
  for (const Ref& app : list) {
    if (!processes_.contains(app.bus))
      unknown.emplace_back(&app, owners.Ask(kDBus, kDBusPath, kDBus, QStringLiteral("GetConnectionUnixProcessID"), {app.bus}));
  }
  for (const auto& [app, asked] : unknown) {
    const QVariantList pid = owners.Answer(asked);
    if (!pid.isEmpty()) processes_.insert(app->bus, Unwrap(pid).toLongLong());
  }
  Batch windows(bus_, deadline);
  std::vector<std::size_t> asked;
  for (const Ref& app : list) {
    if (processes_.value(app.bus, getpid()) != getpid())
      asked.push_back(windows.Ask(app.bus, app.path, kAccessible, QStringLiteral("GetChildren")));
  }
  std::vector<Ref> level;
  for (const std::size_t kids : asked) {
    const std::vector<Ref> found = ChildrenOf(windows.Answer(kids));
    level.insert(level.end(), found.begin(), found.end());
  }
  bool top = true;
  int asks = 0;
  while (!level.empty() && asks < kSearchMaxObjects && Clock::now() < deadline) {
    Batch round(bus_, deadline);
    std::vector<std::pair<std::size_t, std::size_t>> q;
    const std::size_t n = std::min<std::size_t>(level.size(), static_cast<std::size_t>(kSearchMaxObjects - asks));
    for (std::size_t i = 0; i < n; ++i) {
      q.emplace_back(round.Ask(level[i].bus, level[i].path, kAccessible, QStringLiteral("GetState")),
                     round.Ask(level[i].bus, level[i].path, kAccessible, QStringLiteral("GetChildren")));
    }
    asks += static_cast<int>(n);
    std::vector<Ref> next;
    for (std::size_t i = 0; i < n; ++i) {
      const std::vector<uint> words = StateOf(round.Answer(q[i].first));
      const std::vector<Ref> kids = ChildrenOf(round.Answer(q[i].second));
      if (top && !Has(words, kStateActive)) continue;  // only the active window's tree
      // A window can be the field itself (a Qt widget shown on its own).
      if (Has(words, kStateFocused)) return Object{level[i].bus, level[i].path};
      // A table's cells are made on demand, by the thousand.
      if (Has(words, kStateManagesDescendants)) continue;
      next.insert(next.end(), kids.begin(), kids.end());
    }
    if (round.timedOut) why = kTimedOut;
    level = std::move(next);
    top = false;
  }
  if (apps.timedOut || owners.timedOut || windows.timedOut) why = kTimedOut;
  return std::nullopt;
}

}  // namespace tarvik::lnx
