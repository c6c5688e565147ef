#pragma once
#include "core/win/unique_any.h"

namespace tarvik::testing {

// Processes messages until `done` or `limitMs` has passed; true if done.
template <class Done>
bool PumpUntil(const Done& done, DWORD limitMs = 10000) {
  for (const ULONGLONG end = GetTickCount64() + limitMs;;) {
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) TranslateMessage(&msg), DispatchMessageW(&msg);
    const ULONGLONG now = GetTickCount64();
    if (const bool d = done(); d || now >= end) return d;
    MsgWaitForMultipleObjectsEx(0, nullptr, DWORD(std::min<ULONGLONG>(end - now, 50)), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace tarvik::testing
