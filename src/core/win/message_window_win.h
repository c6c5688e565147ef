#pragma once
#include "core/win/unique_any.h"

namespace tarvik::win {

// A message-only window of its own class, whose GWLP_USERDATA holds `owner`
// once it exists (during creation it is still 0). Throws std::runtime_error
// saying what failed and why.
UniqueHwnd CreateMessageWindow(const wchar_t* className, WNDPROC proc, void* owner, const wchar_t* what);

}  // namespace tarvik::win
