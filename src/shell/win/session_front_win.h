// Whether this program's session is the one in front, as Windows tells it.
// With fast user switching each signed-in user has a session, and the log-on
// start runs a copy of the program in each; only the one whose session is
// connected to the screen and keyboard (WTSActive: the console's, or a
// remote one in use) should hold the reader. The window is registered for
// its own session's notifications; a connect or disconnect, at the console or
// from afar, says where it now is. A locked session in front keeps the
// reader: its user is still the one at the computer, the lock check refuses
// the scans meanwhile, and a switch to another user from the lock screen is
// a disconnect of its own.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace tarvik::win {

class SessionFront {
 public:
  explicit SessionFront(HWND window);
  ~SessionFront();
  SessionFront(const SessionFront&) = delete;
  SessionFront& operator=(const SessionFront&) = delete;

  // Empty when notifications come, else why not (then the session counts as
  // in front, as it did before there were notifications).
  const std::string& Problem() const { return problem_; }
  // Whether the session is in front now; nothing when Windows does not say.
  std::optional<bool> Now() const;
  // What a WM_WTSSESSION_CHANGE says: in front or not, nothing for another
  // session or an event that does not move this one (a lock, a log-on).
  std::optional<bool> Changed(WPARAM event, LPARAM session) const;
  // The event is this session's unlock.
  bool Unlocked(WPARAM event, LPARAM session) const;

 private:
  HWND window_;
  DWORD session_ = 0;
  bool registered_ = false;
  std::string problem_;
};

}  // namespace tarvik::win
