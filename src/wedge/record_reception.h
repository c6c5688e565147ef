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
#include "keys/key_reach.h"

namespace tarvik {

class IEventPump;
class IClock;
class LibraryManager;
class ReaderCommands;
class KeystrokeOutput;
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
    std::size_t limit = kReceiveBufferLimit;  // of an unfinished line
    IDiagnostics& diag = NoLog();
  };
  explicit RecordReception(Parts parts) : p_(std::move(parts)) {}

  void wclClient_OnData(std::vector<std::uint8_t> buffer);

  // Bytes received that do not yet end in a line feed.
  const std::vector<std::uint8_t>& ReceiveBuffer() const { return buffer_; }

 private:
  void Append(const std::vector<std::uint8_t>& bytes, LineMode mode);
  void HandleLine(const std::vector<std::uint8_t>& lineBytes, LineMode mode);
  // The line as shown, and the part of it that is the record.
  void HandleRecord(const std::u32string& text, const std::u32string& typed);
  // Whether the keys can reach the target now: the system's answer, then the
  // way of typing's.
  Reach ReachNow(const KeyTarget& target);
  // A record not typed: logged with its reason and told to the user.
  void Refuse(const std::string& logged, const Reach& reach, const std::string& toldAlso = {});

  Parts p_;
  std::vector<std::uint8_t> buffer_;
  bool busy_ = false;
  bool overflowing_ = false;  // the unfinished line has lost bytes already
};

}  // namespace tarvik
