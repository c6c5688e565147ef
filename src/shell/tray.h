// The main window between shown and hidden in the tray. Minimized means in
// the tray; a click on the icon brings the window back. The icon goes in
// before the window is hidden: while the shell refuses it (at log-on, before
// it is ready), the window waits minimized on the taskbar, where typing goes
// on as from the tray, and the icon is tried again every second.
#pragma once
#include "core/diagnostics.h"
#include "core/dialogs.h"
#include "core/services.h"

namespace tarvik {

class Tray {
 public:
  Tray(IWindowShell& shell, ITimer& retry, IDiagnostics& diag = NoLog())
      : shell_(shell), retry_(retry), diag_(diag) {}

  // Every resize of the window.
  void Form_Resize();
  // Pointer movement, and the tray's callback, which shares its message:
  // the tray's event code stands where x would, in pixels.
  void Form_MouseMove(double xTwips);
  // The retry timer's tick, every second while the shell refuses the icon.
  void Retry_Timer();
  // The shell restarted (or started late) and its tray is empty.
  void TaskbarCreated();
  // A second copy of the program was started: come back from the tray.
  void BringBack();
  bool InTray() const { return inTray_; }

 private:
  void GoToTray();

  IWindowShell& shell_;
  ITimer& retry_;
  IDiagnostics& diag_;
  bool inTray_ = false;
  int refusals_ = 0;  // in a row
};

}  // namespace tarvik
