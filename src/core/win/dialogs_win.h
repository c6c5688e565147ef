// The user's message boxes and the standard beep on Windows.
#pragma once
#include "core/win/unique_any.h"  // <windows.h> first

#include "core/dialogs.h"

namespace tarvik::win {

class Win32Dialogs : public IDialogs {
 public:
  explicit Win32Dialogs(HWND owner) : owner_(owner) {}
  void Inform(const std::string& text) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void Beep() override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_;
};

}  // namespace tarvik::win
