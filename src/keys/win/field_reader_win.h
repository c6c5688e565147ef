// Reading back the focused field on Windows. The focused window of the
// foreground thread is asked directly when it is an edit or rich edit control
// (WM_GETTEXT and EM_GETSEL, each with a timeout, which work across processes);
// anything else is asked through UI Automation.
#pragma once
#include <memory>
#include <string_view>

#include "core/field_reader.h"
#include "core/win/unique_any.h"
#include "keys/win/ui_automation_win.h"

namespace tarvik::win {

// An edit control's text as its messages give it, with its selection in the
// control's own positions, as a field: UTF-16 becomes code points and the
// selection code point offsets. A rich edit control (2.0 and later) counts a
// line break as one position while WM_GETTEXT gives it as CR LF:
// `lineBreakIsOne` says so. A position inside a surrogate pair counts from
// the pair's end; one past the text, as the text's end.
FieldText EditFieldText(std::wstring_view text, std::size_t selStart, std::size_t selEnd,
                        bool lineBreakIsOne, FieldCase casing);

class Win32FieldReader : public IFieldReader {
 public:
  Win32FieldReader();  // other fields through the system's UI Automation
  explicit Win32FieldReader(IAutomationFocus& automation);
  FieldReading Read(std::chrono::milliseconds limit) override;

 private:
  std::unique_ptr<IAutomationFocus> owned_;
  IAutomationFocus* automation_;
};

}  // namespace tarvik::win
