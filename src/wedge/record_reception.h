// The main window's data event: received bytes become lines, and every line
// is shown, sounded, answered with the feedback command and typed, in the
// order received.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/controls.h"
#include "core/services.h"
#include "keys/delivery.h"
#include "keys/key_reach.h"
#include "keys/keystroke_output.h"
#include "keys/pace.h"
#include "shape/rules.h"

namespace tarvik {

class IEventPump;
class IClock;
class LibraryManager;
class ReaderCommands;
class IKeyTarget;
class INotice;
class RecordRules;
enum class LineMode;

// Text without a line feed is kept up to this many bytes; past it the oldest
// bytes are dropped, so a reader that never ends a line cannot fill memory.
inline constexpr std::size_t kReceiveBufferLimit = 64 * 1024;

class RecordReception {
 public:
  struct Parts {
    IControls& controls;
    IEventPump& pump;
    const IClock& clock;
    ITimer& timer3;
    ISound& sound;
    const ICodePage& decoder;
    LibraryManager& library;
    ReaderCommands& commands;
    KeystrokeOutput& output;
    ProgramFile programFile;  // beep1.wav
    const IKeyTarget& target;  // where the keys would go
    INotice& notice;
    RecordRules& rules;
    IFieldReader& fields;  // the focused field, read back after the keys
    std::size_t limit = kReceiveBufferLimit;  // of an unfinished line
    IDiagnostics& diag = NoLog();
  };
  explicit RecordReception(Parts parts) : p_(std::move(parts)), check_(p_.fields, p_.pump, p_.clock) {}

  void wclClient_OnData(std::vector<std::uint8_t> buffer);

  // Bytes received that do not yet end in a line feed.
  const std::vector<std::uint8_t>& ReceiveBuffer() const { return buffer_; }

 private:
  // One record on its road, as each step leaves it for the next.
  struct Scan {
    std::u32string text;   // as shown
    std::u32string typed;  // the record as received
    std::string logged;    // what the log will say of it, never its characters
    bool typing = false;   // the window is in the tray: records are typed
    KeyTarget target;
    bool ruled = false;
    RuledRecord ruling;
    TypedRecord keys;
    bool skipped = false;  // shown and answered, not typed
    std::optional<std::u32string> sent;  // what its characters insert, where it is read back
    DeliveryVerdict verdict;
  };

  void Append(const std::vector<std::uint8_t>& bytes, LineMode mode);
  void HandleLine(const std::vector<std::uint8_t>& lineBytes, LineMode mode);
  // The line as shown, and the part of it that is the record.
  void HandleRecord(const std::u32string& text, const std::u32string& typed);
  // The steps of a record's road, in order. Each returns false where the
  // record ends there, told and logged.
  bool Decide(Scan& scan);          // where the keys go, and whether they can reach it
  bool Shape(Scan& scan);           // what the rules make of it, and whether its keys can be typed
  bool TypeCharacters(Scan& scan);  // prefix and characters, the field read right before
  bool Check(Scan& scan);           // what the field got, read back before a suffix moves the focus
  bool TypeSuffixes(Scan& scan);
  void Answer(Scan& scan);          // the beep and "F" only now, and the log
  // Whether the keys can reach the target now: the system's answer, then the
  // way of typing's.
  Reach ReachNow(const KeyTarget& target);
  // A record not typed: logged with its reason and told to the user.
  void Refuse(const std::string& logged, const Reach& reach);

  Parts p_;
  DeliveryCheck check_;
  Paces paces_;  // per program, for the run
  std::vector<std::uint8_t> buffer_;
  bool busy_ = false;
  bool overflowing_ = false;  // the unfinished line has lost bytes already
};

}  // namespace tarvik
