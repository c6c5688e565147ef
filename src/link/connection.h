// Keeps one link to the reader whose address Label25 shows: opens it after
// the start-up tick, opens it again whenever an attempt fails or the link
// drops, and stands aside while the user picks another reader.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "link/wireless.h"
#include "core/diagnostics.h"
#include "core/controls.h"
#include "core/services.h"

namespace tarvik {

class IEventPump;
class IClock;
class IDialogs;
class ReaderCommands;

// The first local radio, or none.
Radio FirstRadio(wclBluetoothDiscovery& discovery);
// The first local radio, or none after telling the user there is none.
Radio FindFirstRadio(wclBluetoothDiscovery& discovery, IDialogs& dialogs);

class ConnectionManager {
 public:
  struct Parts {
    IControls& controls;
    IEventPump& pump;
    const IClock& clock;
    ISound& sound;
    IDialogs& dialogs;
    ITimer& timer3;
    LibraryManager& library;
    wclClient& client;
    wclBluetoothDiscovery& discovery;
    ReaderCommands& commands;
    ProgramFile programFile;  // beep1.wav
    const std::string& serviceText;
    IDiagnostics& diag = NoLog();
  };
  explicit ConnectionManager(Parts parts) : p_(std::move(parts)) {}

  // Starts attempts until one is under way or the link is suspended. Called
  // again while it runs (from an event inside one of its waits), it leaves
  // the work to the running call: the stack never grows with failures.
  void ConnectReader();
  void wclClient_OnConnect(std::int32_t error);
  void wclClient_OnDisconnect();
  // "Select device": the link stands aside while `pick` runs the selection
  // window; then the settings are saved (`save`) and the link is opened again.
  void Command6_Click(const std::function<void()>& pick, const std::function<void()>& save);
  // The computer woke from sleep: a link that was open may have died
  // silently, so it is closed and opened again.
  void Resumed();
  // Whether this program's session is the one in front of the user. Where
  // users share a computer each session runs its own copy, and a reader
  // takes one link only (a COM port opens once, many readers pair with one
  // host): a copy whose session goes to the background lets the link go for
  // the copy in front, and takes it back when its session comes in front.
  void SessionInFront(bool front);
  bool InBackground() const { return background_; }

  std::int16_t LinkSuspended = 0;
  // An attempt that fails sooner than this after it began makes the next
  // one wait for the rest of it: a reader that refuses at once must not turn
  // the loop into a busy spin.
  static constexpr std::chrono::milliseconds kMinimumSpacing{1000};
  // A reader that is away fails the same way again and again: the first few
  // failures in a row are logged each, the rest counted, and the count is
  // logged when something changes or after this long.
  static constexpr int kRepeatsLoggedInFull = 3;
  static constexpr std::chrono::minutes kRepeatSummaryEvery{10};

  int attempts() const { return attempts_; }
  int depth() const { return depth_; }
  int maxDepth() const { return maxDepth_; }

 private:
  // No attempt now: the user picks a reader, or the session is in the background.
  bool StandsAside() const { return LinkSuspended == 1 || background_; }
  void StartAttempt();
  void WaitForSpacing();
  void Failed(std::int32_t code);  // logged, and advice given once where there is some
  void LogFailure(std::int32_t code);
  void LogEvent(const std::string& text);  // says first how often the last failure repeated
  std::string Said(std::int32_t code) const;  // "10061 (the system's words)"

  Parts p_;
  bool running_ = false;
  bool again_ = false;
  bool failedFast_ = false;
  bool linkOpen_ = false;
  bool background_ = false;
  bool waitingForRadio_ = false;  // told in the log once, until one is there
  bool advised_ = false;
  bool greeting_ = false;
  bool greetAgain_ = false;
  std::chrono::microseconds openedAt_{0};
  std::chrono::microseconds attemptStart_{0};
  int attempts_ = 0;
  std::string attemptAddress_;
  std::string lastFailure_;
  int repeats_ = 0, unlogged_ = 0;
  std::chrono::microseconds summaryAt_{0};
  int depth_ = 0, maxDepth_ = 0;
};

}  // namespace tarvik
