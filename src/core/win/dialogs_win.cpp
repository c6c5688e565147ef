#include "core/win/dialogs_win.h"

#include "core/win/text_win.h"

namespace tarvik::win {

void Win32Dialogs::Inform(const std::string& text) {
  MessageBoxW(owner_, Widen(text).c_str(), L"Tarvik", MB_OK);
}

bool Win32Dialogs::AskYesNo(const std::string& text, const std::string& caption) {
  return MessageBoxW(owner_, Widen(text).c_str(), Widen(caption).c_str(),
                     MB_YESNO | MB_DEFBUTTON1) == IDYES;
}

void Win32Dialogs::Beep() { MessageBeep(MB_OK); }

}  // namespace tarvik::win
