// The window message loop as the logic's event pump, and the system clocks.
#pragma once
#include "core/win/unique_any.h"
#include "core/event_pump.h"

namespace tarvik::win {

class Win32EventPump : public IEventPump {
 public:
  Win32EventPump();
  // Keyboard navigation (Tab, arrows) between this window's controls.
  void SetDialogWindow(HWND hwnd) { dialog_ = hwnd; }
  void ProcessPending() override;
  void WaitForEvent(std::chrono::microseconds limit) override;
  bool QuitRequested() const override { return quit_; }
  // The program's outer loop; returns the exit code of WM_QUIT.
  int Run();

 private:
  bool Dispatch(MSG& msg);  // false on WM_QUIT

  UniqueHandle timer_;
  bool highResolution_ = false;
  HWND dialog_ = nullptr;
  bool quit_ = false;
  int exitCode_ = 0;
};

class Win32Clock : public IClock {
 public:
  Win32Clock();
  double TimeOfDay() const override;
  std::chrono::microseconds Monotonic() const override;

 private:
  LARGE_INTEGER frequency_{};
};

}  // namespace tarvik::win
