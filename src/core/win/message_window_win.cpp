#include "core/win/message_window_win.h"

#include <stdexcept>
#include <string>

#include "core/win/handover_win.h"
#include "core/win/text_win.h"

namespace tarvik::win {

UniqueHwnd CreateMessageWindow(const wchar_t* className, WNDPROC proc, void* owner, const wchar_t* what) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = className;
  auto fail = [what](const wchar_t* attempted) {
    const DWORD error = GetLastError();
    std::wstring text = attempted;
    text += what;
    throw std::runtime_error(Narrow(DescribeFailure(text, error)));
  };
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    fail(L"Registering the window class of ");
  HWND hwnd = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (!hwnd) fail(L"Creating the window of ");
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  return UniqueHwnd(hwnd);
}

void DestroyOwnedWindow(HWND hwnd) {
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  DropQueuedParcels(hwnd);
  DestroyWindow(hwnd);
}

}  // namespace tarvik::win
