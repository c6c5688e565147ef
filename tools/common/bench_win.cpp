#include "bench_win.h"

namespace tarvik::bench {

HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND h = FindWindowW(nullptr, title.c_str())) return h;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(50);
  }
}

bool ForceForeground(HWND hwnd, DWORD timeoutMs) {
  // Already in front: touch nothing. Switching the foreground makes Wine
  // re-sync its lock keys from the X server.
  if (GetForegroundWindow() == hwnd) return true;
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  do {
    // The system lets only the foreground thread hand the foreground on:
    // join its input state for the moment of the switch.
    const DWORD me = GetCurrentThreadId();
    HWND fg = GetForegroundWindow();
    const DWORD fgThread = fg ? GetWindowThreadProcessId(fg, nullptr) : 0;
    const bool attached = fgThread && fgThread != me && AttachThreadInput(me, fgThread, TRUE);
    if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
    BringWindowToTop(hwnd);
    SetForegroundWindow(hwnd);
    if (attached) AttachThreadInput(me, fgThread, FALSE);
    if (GetForegroundWindow() == hwnd) return true;
    Sleep(50);
  } while (GetTickCount64() < end);
  return false;
}

}  // namespace tarvik::bench
