#pragma once
#include <gtest/gtest.h>

#include "core/win/unique_any.h"
#include "tools/common/bench_win.h"

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

// An ordinary window of this thread, in front. Wine puts it in front at once; its X window is mapped and
// focused a little later, and on that focus Wine sets its key state to the X server's, where nothing is
// down: a key that only SendInput pressed is let go then, without a key-up.
inline win::UniqueHwnd FrontWindow() {
  win::UniqueHwnd window(CreateWindowExW(0, L"EDIT", L"key target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                         300, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  EXPECT_TRUE(window && bench::ForceForeground(window.get(), 5000));
  return window;
}

}  // namespace tarvik::testing
