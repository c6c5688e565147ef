// The main window between shown and hidden in the tray. Minimized means in
// the tray; a click on the icon brings the window back. The icon goes in
// before the window is hidden: while the shell refuses it (at log-on, before
// it is ready), the window waits minimized on the taskbar, where typing goes
// on as from the tray, and the icon is tried again every second.
#pragma once
#include "core/diagnostics.h"
#include "core/dialogs.h"
#include "core/services.h"

#include <cstddef>
#include <optional>
#include <string>

namespace tarvik {

// How the platform shows a warning that stays: the tray icon's warning image
// and tip, or where there is no icon, a flashing taskbar button.
class ITrayMarkView {
 public:
  virtual ~ITrayMarkView() = default;
  virtual void ShowWarning(const std::string& tip) = 0;  // the warning image, this tip
  virtual void ShowNormal() = 0;  // the program's own icon and tip; no flashing
  virtual void Flash() = 0;       // the taskbar button, until the window is in front
};

// A warning (a scan not typed, a rules file it cannot use) stays on the icon
// until the user has seen it, by opening the window, or until a later scan
// is typed and the warning is over.
class WarningMark {
 public:
  // The longest tip the shell shows: 128 UTF-16 units with the NUL.
  static constexpr std::size_t kTipUnits = 127;

  explicit WarningMark(ITrayMarkView& view) : view_(view) {}
  // A notice; iconShown: the tray icon is there to carry it.
  void Warned(const std::string& text, bool iconShown);
  void Typed() { Clear(); }
  void Opened() { Clear(); }
  // The icon came (back) into the tray, with the normal image.
  void IconAdded();
  const std::optional<std::string>& Tip() const { return tip_; }

  // The text cut to at most kTipUnits UTF-16 units, at a character's end,
  // with an ellipsis where it was cut.
  static std::string TipOf(const std::string& utf8);

 private:
  void Clear();

  ITrayMarkView& view_;
  std::optional<std::string> tip_;
};

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
