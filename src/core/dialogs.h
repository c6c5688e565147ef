// Messages to the user, the standard beep, and the main window's show state
// and tray icon, as the logic sees them.
#pragma once
#include <string>

namespace tarvik {

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // An OK box without an icon, captioned "Tarvik"; returns when it closes.
  virtual void Inform(const std::string& text) = 0;
  // Yes and No, Yes the default, no icon; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
  virtual void Beep() = 0;
};

// A word to the user that cannot wait for them to look: the system's error
// sound and a balloon from the tray icon (where there is no icon, the
// taskbar button flashes). Returns at once. The warning stays on the icon
// (its image and tip) until the user opens the window or a later scan is
// typed.
class INotice {
 public:
  virtual ~INotice() = default;
  virtual void Warn(const std::string& text) = 0;
  // A scan was typed: a warning still on the icon is over.
  virtual void Typed() {}
};

enum class WindowState { Normal = 0, Minimized = 1 };

class IWindowShell {
 public:
  virtual ~IWindowShell() = default;
  virtual WindowState State() const = 0;
  // Changing the state sizes the window, which raises its resize handler.
  virtual void SetState(WindowState state) = 0;
  virtual void Hide() = 0;
  virtual void Show() = 0;
  // The screen's width of one pixel in the window's unit (twips).
  virtual double TwipsPerPixelX() const = 0;
  // Shown minimized on the taskbar, without taking the focus.
  virtual void ShowMinimized() = 0;
  // The tray icon: add and delete with the one tray record. Adding fails
  // while the shell is not ready for it (at log-on, say).
  virtual bool TrayAdd() = 0;
  virtual void TrayDelete() = 0;
  // The user has the window open (brought back from the tray, restored from
  // the taskbar): a warning still on the icon has been seen.
  virtual void Opened() = 0;
};

}  // namespace tarvik
