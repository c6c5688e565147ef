// The main window RX and its Win32 controls, seen by the logic as IControls.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/win/unique_any.h"
#include "core/controls.h"
#include "shell/rx_layout.h"

namespace tarvik::win {

class RxWindow : public IControls {
 public:
  // Creates the window (hidden) and its controls; throws std::runtime_error
  // with what failed and why.
  static std::unique_ptr<RxWindow> Create(HINSTANCE instance);
  ~RxWindow() override;

  HWND hwnd() const { return hwnd_.get(); }
  // A list or check box changed, by the user or by the program.
  std::function<void(Ctl)> onChange;
  // The window is closing (close box, log-off); it is destroyed right after.
  std::function<void()> onClose;
  // WM_TIMER, with the timer's id.
  std::function<void(UINT_PTR)> onTimer;
  // A push button was clicked, by its control name's id (ControlId).
  std::function<void(int)> onClick;
  // Any other message; return true when it was handled.
  std::function<bool(UINT, WPARAM, LPARAM)> onMessage;
  HICON icon() const { return icon_.get() ? icon_.get() : sharedIcon_; }
  HICON smallIcon() const { return smallIcon_.get() ? smallIcon_.get() : icon(); }

  void AddItem(Ctl list, std::string_view text) override;
  int ListCount(Ctl list) const override;
  int ListIndex(Ctl list) const override;
  void SetListIndex(Ctl list, int index) override;
  std::string ItemText(Ctl list, int index) const override;
  int CheckValue(Ctl box) const override;
  void SetCheckValue(Ctl box, int value) override;
  std::string Caption(Ctl label) const override;
  void SetCaption(Ctl label, std::string_view text) override;
  bool TypesRecords() const override;

  void SetLinkColour(bool linkOpen) override;

 private:
  RxWindow() = default;
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  HWND Control(Ctl ctl) const;
  void CreateControls(HINSTANCE instance);
  void Raise(Ctl ctl);

  std::map<Ctl, HWND> controls_;
  std::map<int, Ctl> byId_;
  std::map<HWND, Look> looks_;
  Look LookOf(HWND control) const;
  void DrawItem(const DRAWITEMSTRUCT& item);

  UniqueGdiObject font_, label25Font_, label1Font_, label28Font_;
  UniqueGdiObject background_, black_, red_, green_;
  UniqueGdiObject logo_, exit_;
  UniqueHicon icon_, smallIcon_;
  HICON sharedIcon_ = nullptr;  // the system's, where ours did not load: never destroyed
  int dpi_ = 96;
  bool linkOpen_ = false;
  // Last: the window goes before the fonts, brushes and icons it uses.
  UniqueHwnd hwnd_;
};

}  // namespace tarvik::win
