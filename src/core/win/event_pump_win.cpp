#include "core/win/event_pump_win.h"

#include <mmsystem.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tarvik::win {

Win32EventPump::Win32EventPump() {
  // The default timer tick is 15.6 ms, which would stretch a 10 ms key delay
  // by half. A high-resolution waitable timer (Windows 10 1803 on) is exact
  // without raising the tick for the whole system; older systems get the
  // tick raised to 1 ms, and only for the length of each wait.
  timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS));
  highResolution_ = static_cast<bool>(timer_);
  if (!timer_) timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
}

bool Win32EventPump::Dispatch(MSG& msg) {
  if (msg.message == WM_QUIT) {
    // Seen inside a nested wait: remember it and put it back, so the outer
    // loop ends too.
    quit_ = true;
    exitCode_ = static_cast<int>(msg.wParam);
    PostQuitMessage(exitCode_);
    return false;
  }
  if (dialog_ && IsDialogMessageW(dialog_, &msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void Win32EventPump::ProcessPending() {
  if (quit_) return;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!Dispatch(msg)) return;
  }
}

void Win32EventPump::WaitForEvent(std::chrono::microseconds limit) {
  if (quit_ || limit.count() <= 0) return;
  // MWMO_INPUTAVAILABLE: input that an earlier peek saw but left in the queue
  // still ends the wait.
  if (timer_) {
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(limit.count()) * 10;  // relative, 100 ns units
    if (SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE)) {
      if (!highResolution_) timeBeginPeriod(1);
      HANDLE h = timer_.get();
      MsgWaitForMultipleObjectsEx(1, &h, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (!highResolution_) timeEndPeriod(1);
      CancelWaitableTimer(timer_.get());
      return;
    }
  }
  const auto ms = static_cast<DWORD>((limit.count() + 999) / 1000);
  timeBeginPeriod(1);
  MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  timeEndPeriod(1);
}

int Win32EventPump::Run() {
  MSG msg;
  while (!quit_) {
    const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) return static_cast<int>(msg.wParam);
    if (r < 0) return 1;
    Dispatch(msg);
  }
  return exitCode_;
}

Win32Clock::Win32Clock() { QueryPerformanceFrequency(&frequency_); }

double Win32Clock::TimeOfDay() const {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
}

std::chrono::microseconds Win32Clock::Monotonic() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const auto whole = now.QuadPart / frequency_.QuadPart;
  const auto rest = now.QuadPart % frequency_.QuadPart;
  return std::chrono::microseconds(whole * 1000000 + rest * 1000000 / frequency_.QuadPart);
}

}  // namespace tarvik::win
