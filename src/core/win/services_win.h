// The window's timers, sound and code page on Windows.
#pragma once
#include "core/win/unique_any.h"
#include "core/services.h"

namespace tarvik::win {

// A timer of a window: WM_TIMER with this id arrives at the window.
class WindowTimer : public ITimer {
 public:
  WindowTimer(HWND hwnd, UINT_PTR id, UINT intervalMs) : hwnd_(hwnd), id_(id), interval_(intervalMs) {}
  ~WindowTimer() override { SetEnabled(false); }
  void SetEnabled(bool enabled) override;
  bool Enabled() const { return enabled_; }
  UINT_PTR id() const { return id_; }

 private:
  HWND hwnd_;
  UINT_PTR id_;
  UINT interval_;
  bool enabled_ = false;
};

class Win32Sound : public ISound {
 public:
  void PlayFile(const std::string& path) override;
};

class AnsiCodePage : public ICodePage {
 public:
  std::string Decode(std::span<const std::uint8_t> bytes) const override;
  std::string Encode(std::string_view utf8) const override;
};

}  // namespace tarvik::win
