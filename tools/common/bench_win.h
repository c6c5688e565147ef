// Helpers shared by the Wine bench's small programs.
#pragma once
#include <string>

#include "core/win/unique_any.h"

namespace tarvik::bench {

// The top-level window with this exact title, waiting up to timeoutMs for it.
HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs);
// Makes the window the foreground window with the keyboard focus; true once
// the system reports it so (polled for up to timeoutMs).
bool ForceForeground(HWND hwnd, DWORD timeoutMs);

}  // namespace tarvik::bench
