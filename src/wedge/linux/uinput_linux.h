// Typing through the kernel's /dev/uinput: a virtual keyboard that reaches
// every program, Wayland's own included. The desktop reads its keys through
// the user's keyboard layout; they are chosen for the US layout, so other
// layouts move some characters (y and z on a German one). Characters the US
// layout lacks are not typed, and counted. Held modifiers of the user's own
// keyboard cannot be seen or let go from here.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/diagnostics.h"
#include "wedge/keystroke_output.h"

namespace tarvik::lnx {

struct EvdevEvent {
  std::uint16_t code = 0;  // KEY_... of linux/input-event-codes.h
  bool down = true;
  bool operator==(const EvdevEvent&) const = default;
};

struct UinputPlan {
  std::vector<EvdevEvent> events;
  bool typeable = true;  // false: a character the US layout lacks
};

// The key events of one token on the US layout, with Caps Lock as given.
// Control characters type nothing, except HT, which types Tab.
UinputPlan PlanUinputKeys(std::string_view token, bool capsLock);

class UinputKeySender : public IKeySender {
 public:
  // Creates the virtual keyboard; nothing, and `problem` says why, when the
  // device cannot be opened for writing or the keyboard not be created.
  static std::unique_ptr<UinputKeySender> Open(const char* path, std::string& problem,
                                               IDiagnostics& log = NoLog());
  ~UinputKeySender() override;  // the virtual keyboard goes away with it
  UinputKeySender(const UinputKeySender&) = delete;
  UinputKeySender& operator=(const UinputKeySender&) = delete;

  bool SendKeyTokens(std::string_view token) override;
  // The fixed US keyboard: characters it lacks cannot be typed.
  bool CanType(std::string_view token) override { return PlanUinputKeys(token, false).typeable; }
  // Reads the Caps Lock light the desktop sets on every keyboard, ours too.
  void BeginRecord() override;
  void EndRecord() override;
  std::size_t Skipped() const { return skipped_; }

 private:
  UinputKeySender(int fd, IDiagnostics& log) : fd_(fd), log_(log) {}

  int fd_;
  IDiagnostics& log_;
  bool capsLock_ = false;
  std::size_t skipped_ = 0;
  std::size_t skippedInRecord_ = 0;
};

}  // namespace tarvik::lnx
