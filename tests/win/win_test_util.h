// Helpers of the Windows-side tests: a window in front, and a message loop
// that runs until a condition holds or a generous limit passes.
#pragma once
#include <functional>

#include "core/win/unique_any.h"

namespace tarvik::testing {

// Processes messages until `done` or `limitMs` has passed; true if done.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 10000) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace tarvik::testing
