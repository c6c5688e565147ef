#include "shell/win/session_front_win.h"

#include <wtsapi32.h>

#include "core/win/text_win.h"

namespace tarvik::win {

SessionFront::SessionFront(HWND window) : window_(window) {
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session_)) {
    problem_ = Narrow(DescribeFailure(L"Finding this program's session", GetLastError()));
    return;
  }
  registered_ = WTSRegisterSessionNotification(window_, NOTIFY_FOR_THIS_SESSION) != FALSE;
  if (!registered_)
    problem_ = Narrow(DescribeFailure(L"Registering for the session's notifications", GetLastError()));
}

SessionFront::~SessionFront() {
  if (registered_) WTSUnRegisterSessionNotification(window_);
}

std::optional<bool> SessionFront::Now() const {
  WTS_CONNECTSTATE_CLASS* state = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session_, WTSConnectState,
                                   reinterpret_cast<LPWSTR*>(&state), &bytes))
    return std::nullopt;
  std::optional<bool> front;
  if (state && bytes >= sizeof(*state)) front = *state == WTSActive;
  WTSFreeMemory(state);
  return front;
}

std::optional<bool> SessionFront::Changed(WPARAM event, LPARAM session) const {
  if (static_cast<DWORD>(session) != session_) return std::nullopt;
  switch (event) {
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
      return true;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
      return false;
    default:
      return std::nullopt;
  }
}

bool SessionFront::Unlocked(WPARAM event, LPARAM session) const {
  return event == WTS_SESSION_UNLOCK && static_cast<DWORD>(session) == session_;
}

}  // namespace tarvik::win
