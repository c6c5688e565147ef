// Text at the Win32 boundary: UTF-8 inside the program, UTF-16 for the W
// functions, and the system's reason for a failure in words.
#pragma once
#include <string>
#include <string_view>

#include "core/win/unique_any.h"

namespace tarvik::win {

// The one conversion between a code page (CP_UTF8, CP_ACP...) and UTF-16.
std::wstring FromCodePage(UINT codePage, std::string_view text);
std::string ToCodePage(UINT codePage, std::wstring_view text);
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// The system's words for an error, without the closing full stop; empty
// when it has none.
std::wstring SystemMessage(DWORD error);
// "<what was attempted>: <the system's message> (error N)".
std::wstring DescribeFailure(std::wstring_view attempted, DWORD error);
// The screen's pixels per inch (96 when the system cannot say).
int ScreenDpi();
// Leaves a line in the debugger output, where a person diagnosing a problem looks.
void DebugLine(std::string_view text);

}  // namespace tarvik::win
