// Reading back the focused text field through AT-SPI, the accessibility bus
// of Linux desktops: a D-Bus of its own, whose address org.a11y.Bus gives on
// the session bus. Each application with an accessibility bridge (GTK's
// atk-bridge, Qt, Firefox, Chromium, LibreOffice on its GTK and Qt plugins)
// serves its widgets there as objects with a state, a role, and a Text
// interface for those that hold text.
//
// The focused object is kept from the registry's focus events; where none
// is known (the focus moved before we listened, or to an application that
// sent nothing), the active window's tree is searched, within a bound. Every
// call carries a timeout, so an application that hangs costs a read no more
// than its limit.
//
// Toolkits other than GTK serve their tree only where the bus says
// accessibility is enabled (org.a11y.Status IsEnabled) when they start: Qt 6
// (6.4) and Chromium read it then and never again, so a Qt program already
// running when it is turned on stays unreadable until it is restarted. We
// turn it on at start when it is off, and off again at exit unless a screen
// reader is on, since at-spi-bus-launcher keeps it in the user's settings
// (GSettings toolkit-accessibility) for the next session too.
#pragma once
#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

#include "core/diagnostics.h"
#include "core/field_reader.h"

namespace tarvik::lnx {

class AtSpiFieldReader : public QObject, public IFieldReader {
  Q_OBJECT

 public:
  explicit AtSpiFieldReader(IDiagnostics& log);
  ~AtSpiFieldReader() override;
  FieldReading Read(std::chrono::milliseconds limit) override;

  // The accessibility bus is looked for at most this often while it is missing.
  static constexpr std::chrono::seconds kAttachRetry{30};
  // Waiting for the session bus to start the accessibility bus at start.
  static constexpr std::chrono::milliseconds kAttachWait{2000};
  // The search for the focused object when no focus event named it: objects
  // asked at most (a web page or a spreadsheet has thousands).
  static constexpr int kSearchMaxObjects = 400;

 private slots:
  void OnStateChanged(const QDBusMessage& event);

 private:
  using Clock = std::chrono::steady_clock;
  struct Object {
    QString bus, path;
    bool operator==(const Object&) const = default;
  };

  bool Attach(Clock::time_point deadline, std::string& why);
  void EnableToolkits();
  FieldReading ReadFocused(Clock::time_point deadline);
  std::optional<Object> SearchFocused(Clock::time_point deadline, std::string& why);
  FieldReading ReadObject(const Object& o, Clock::time_point deadline, bool& notFocused);

  IDiagnostics& log_;
  QDBusConnection bus_;   // the accessibility bus, once attached
  bool attached_ = false;
  Clock::time_point nextAttach_{};
  std::optional<Object> focused_;  // from the last focus event
  bool searchDue_ = false;         // the tree not searched since attaching
  // The process behind each bus name asked about (names are never reused).
  QHash<QString, qint64> processes_;
  bool weEnabled_ = false;         // IsEnabled was off and we turned it on
};

}  // namespace tarvik::lnx
