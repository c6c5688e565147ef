#include "keys/win/field_reader_win.h"

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

constexpr int kClassChars = 256;
// The class of the desktop window, which has the focus when nothing else has:
// asked, it "succeeds" with an empty text.
constexpr std::wstring_view kDesktopClass = L"#32769";

enum class EditKind { kNone, kEdit, kRichEdit1, kRichEdit };

bool SameText(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

bool Contains(std::wstring_view text, std::wstring_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (SameText(text.substr(i, part.size()), part)) return true;
  return false;
}

// Rich edit 2.0 and later ("RichEdit20A/W", "RICHEDIT50W" of msftedit.dll,
// Office's "RichEdit60W"), also inside a framework's superclass name such as
// "WindowsForms10.RichEdit20W.app.0.1"; rich edit 1.0 ("RichEdit") keeps CR LF
// as two positions, as an edit control does. An edit control superclassed by
// a framework still answers "Edit" to RealGetWindowClass.
EditKind KindOf(std::wstring_view className, std::wstring_view realClass) {
  for (std::wstring_view rich : {L"RichEdit20", L"RichEdit50", L"RichEdit60"})
    if (Contains(className, rich)) return EditKind::kRichEdit;
  if (SameText(className, L"RichEdit")) return EditKind::kRichEdit1;
  if (SameText(className, L"Edit") || SameText(realClass, L"Edit")) return EditKind::kEdit;
  return EditKind::kNone;
}

// Windows that show what a program made of the keys, not the keys: a
// terminal echoes them as the program in it decides (or not at all at a
// password prompt), a remote session passes them on. UI Automation would read
// a console's screen as text and call a good line different.
struct NotAField {
  std::wstring_view className;
  const char* why;
};
constexpr NotAField kNotFields[] = {
    {L"ConsoleWindowClass", "a terminal"},
    {L"CASCADIA_HOSTING_WINDOW_CLASS", "a terminal"},  // Windows Terminal
    {L"PuTTY", "a terminal"},
    {L"mintty", "a terminal"},
    {L"VirtualConsoleClass", "a terminal"},  // ConEmu
    {L"TscShellContainerClass", "a remote session"},
    {L"IHWindowClass", "a remote session"},  // the remote desktop client's input window
};

const char* NotAFieldWhy(HWND focus, std::wstring_view focusClass) {
  wchar_t topClass[kClassChars] = {};
  GetClassNameW(GetAncestor(focus, GA_ROOT), topClass, kClassChars);
  for (const NotAField& kind : kNotFields)
    if (SameText(focusClass, kind.className) || SameText(topClass, kind.className)) return kind.why;
  return nullptr;
}

std::string Which(HWND window, std::wstring_view className) {
  char handle[32];
  std::snprintf(handle, sizeof handle, "0x%llX",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
  return std::string(handle) + " (" + Narrow(className) + ")";
}

FieldReading NoField(std::string why, std::string which = {}) {
  return FieldReading{std::nullopt, std::move(why), std::move(which)};
}

// One message to the control, within what is left of the read's time. A
// target whose thread is marked hung fails at once (SMTO_ABORTIFHUNG); while
// waiting, this thread handles no sent messages (SMTO_BLOCK), so the target
// cannot call back into us half-way through a record.
class Asker {
 public:
  Asker(HWND window, std::chrono::milliseconds limit)
      : window_(window), limit_(limit), end_(GetTickCount64() + static_cast<ULONGLONG>(limit.count())) {}

  std::optional<LRESULT> Send(UINT msg, WPARAM wp, LPARAM lp) {
    const ULONGLONG now = GetTickCount64();
    const UINT left = now >= end_ ? 1u : static_cast<UINT>(end_ - now);
    DWORD_PTR result = 0;
    SetLastError(ERROR_SUCCESS);
    if (!SendMessageTimeoutW(window_, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, left, &result)) {
      failure_ = GetLastError();
      return std::nullopt;
    }
    return static_cast<LRESULT>(result);
  }

  std::string Why() const {
    switch (failure_) {
      case ERROR_SUCCESS:
      case ERROR_TIMEOUT: return NoAnswerWithin(limit_);
      case ERROR_INVALID_WINDOW_HANDLE: return "the field closed while it was read";
      // A program of higher integrity: the system holds our messages back.
      case ERROR_ACCESS_DENIED: return "the field's program runs with more rights";
      default: return "the field could not be read (error " + std::to_string(failure_) + ")";
    }
  }

 private:
  HWND window_;
  std::chrono::milliseconds limit_;
  ULONGLONG end_;
  DWORD failure_ = ERROR_SUCCESS;
};

FieldReading TooLong(std::string which) {
  return NoField("a field of more than " + std::to_string(kFieldReadLimit) + " characters", std::move(which));
}

FieldReading ReadEdit(HWND window, EditKind kind, std::chrono::milliseconds limit, std::string which) {
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  if (style & ES_PASSWORD) return NoField("a password field", which);
  // In a rich edit control the bits of ES_UPPERCASE and ES_LOWERCASE mean
  // other things (ES_NOOLEDRAGDROP among them): only an edit control has them.
  FieldCase casing = FieldCase::kAsTyped;
  if (kind == EditKind::kEdit && (style & ES_UPPERCASE)) casing = FieldCase::kUpper;
  if (kind == EditKind::kEdit && (style & ES_LOWERCASE)) casing = FieldCase::kLower;

  Asker ask(window, limit);
  const auto length = ask.Send(WM_GETTEXTLENGTH, 0, 0);
  if (!length) return NoField(ask.Why(), which);
  // UTF-16 units; never fewer than the characters, so a text within the
  // limit is never refused here.
  if (*length < 0 || static_cast<std::size_t>(*length) > kFieldReadLimit) return TooLong(which);
  // A rich edit control may count a line break once in its length and give
  // it as CR LF in its text: room for that, so the text is never cut short.
  const std::size_t room = static_cast<std::size_t>(*length) * (kind == EditKind::kRichEdit ? 2 : 1);
  std::vector<wchar_t> buffer(room + 1);
  const auto got = ask.Send(WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  if (!got) return NoField(ask.Why(), which);
  // Both positions come packed in the result, which needs no buffer carried
  // across processes; past 65535 it is -1.
  const auto selection = ask.Send(EM_GETSEL, 0, 0);
  if (!selection) return NoField(ask.Why(), which);
  const auto packed = static_cast<DWORD>(*selection);
  if (packed == MAXDWORD) return TooLong(which);
  const std::size_t selStart = LOWORD(packed), selEnd = HIWORD(packed);
  const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(*got), buffer.size() - 1);
  return FieldReading{EditFieldText(std::wstring_view(buffer.data(), size), selStart, selEnd,
                                    kind == EditKind::kRichEdit, casing),
                      {}, std::move(which)};
}

}  // namespace

FieldText EditFieldText(std::wstring_view text, std::size_t selStart, std::size_t selEnd,
                        bool lineBreakIsOne, FieldCase casing) {
  FieldText field;
  field.casing = casing;
  field.text.reserve(text.size());
  bool startSet = false, endSet = false;
  std::size_t position = 0;  // in the control's positions
  auto mark = [&] {
    if (!startSet && position >= selStart) field.selStart = field.text.size(), startSet = true;
    if (!endSet && position >= selEnd) field.selEnd = field.text.size(), endSet = true;
  };
  for (std::size_t i = 0; i < text.size();) {
    mark();
    const char16_t unit = static_cast<char16_t>(text[i]);
    const char16_t next = i + 1 < text.size() ? static_cast<char16_t>(text[i + 1]) : 0;
    if (lineBreakIsOne && unit == u'\r' && next == u'\n') {
      field.text += U"\r\n";
      i += 2, position += 1;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      field.text += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      i += 2, position += 2;
    } else {
      const bool lone = unit >= 0xD800 && unit <= 0xDFFF;
      field.text += lone ? U'\uFFFD' : static_cast<char32_t>(unit);
      i += 1, position += 1;
    }
  }
  mark();
  if (!startSet) field.selStart = field.text.size();
  if (!endSet) field.selEnd = field.text.size();
  return field;
}

Win32FieldReader::Win32FieldReader()
    : owned_(std::make_unique<BoundedAutomation>(MakeUiAutomationSource())), automation_(owned_.get()) {}

Win32FieldReader::Win32FieldReader(IAutomationFocus& automation) : automation_(&automation) {}

FieldReading Win32FieldReader::Read(std::chrono::milliseconds limit) {
  HWND front = GetForegroundWindow();
  if (!front) return NoField("no window is in front");
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(front, nullptr), &info) || !info.hwndFocus)
    return NoField("no window has the keyboard focus");
  HWND focus = info.hwndFocus;
  wchar_t className[kClassChars] = {}, realClass[kClassChars] = {};
  GetClassNameW(focus, className, kClassChars);
  RealGetWindowClassW(focus, realClass, kClassChars);
  std::string which = Which(focus, className);
  if (SameText(className, kDesktopClass)) return NoField("no window has the keyboard focus", which);
  if (const char* why = NotAFieldWhy(focus, className)) return NoField(why, which);
  const EditKind kind = KindOf(className, realClass);
  if (kind != EditKind::kNone) return ReadEdit(focus, kind, limit, std::move(which));
  FieldReading reading = automation_->Read(limit);
  // An element of its own is named by UI Automation; the window tells apart
  // the fields of which it has no name.
  reading.which = reading.which.empty() ? which : which + " " + reading.which;
  return reading;
}

}  // namespace tarvik::win
