// The user's settings live in the main window's controls; this keeps them in
// pelrin.ini: leggiconf restores them at start, salvaconf rewrites the whole
// file after every change.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/diagnostics.h"
#include "core/controls.h"

namespace tarvik {

class IEventPump;
class ICodePage;

// Where the file lives, chosen once at start. Writes replace the whole file
// in one step: a failed write leaves the previous file as it was.
class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  // An ordinary file (no directory, hidden or system file) at the place loads read.
  virtual bool Exists() const = 0;
  virtual std::optional<std::string> Read() const = 0;
  virtual bool Write(const std::string& bytes) = 0;
  // Where the file is read and written, for the diagnostics log.
  virtual std::string Describe() const { return {}; }
  // Why the last write failed, in the system's words.
  virtual std::string LastError() const { return {}; }
};

enum class SettingsPlace { WindowsDirectory, UserDirectory, VirtualStore };
struct SettingsLocation {
  SettingsPlace read;
  SettingsPlace write;
  bool operator==(const SettingsLocation&) const = default;
};
// Which places hold a pelrin.ini at start.
struct SettingsFiles {
  bool windows = false;       // the Windows directory
  bool user = false;          // the user's own folder
  bool virtualStore = false;  // the user's VirtualStore copy of the Windows directory
};
// The Windows directory wherever it can be written (installations and
// files rely on it); otherwise the user's own folder, starting from the
// Windows directory's file when that is the only one. A version of the
// program that ran without a manifest had its writes to the Windows
// directory redirected into the user's VirtualStore: where neither place
// holds a file but that one does, it is where the user's settings are
// (read, never moved).
SettingsLocation ChooseSettingsLocation(bool windowsDirWritable, const SettingsFiles& found);

class SettingsKeeper {
 public:
  struct Parts {
    IControls& controls;
    IEventPump& pump;
    ISettingsStore& store;
    const ICodePage& codePage;
    std::int16_t& settingsReady;
    std::string& deviceAddress;                   // UTF-8
    std::function<void()> armInactivityDeadline;  // when the timeout list changes
    IDiagnostics& diag = NoLog();
  };
  explicit SettingsKeeper(Parts parts) : p_(std::move(parts)) {}

  void leggiconf();
  void salvaconf();
  // The change handler of Check1, Check2 and Combo1 to Combo9.
  void OnControlChanged(Ctl ctl);

 private:
  Parts p_;
};

}  // namespace tarvik
