// One move-only owner for every kind of Windows handle. The closer runs once;
// GetLastError is saved around it so a failure code read after a scope ends
// still belongs to the call that failed, not to the cleanup.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>

#include <utility>

namespace tarvik::win {

// Traits give the handle type, its invalid value and how to close it.
template <typename Traits>
class UniqueAny {
 public:
  using T = typename Traits::Type;
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Invalid(); }
  T release() { return std::exchange(value_, Traits::Invalid()); }
  void reset(T value = Traits::Invalid()) {
    const T old = std::exchange(value_, value);
    if (old != Traits::Invalid()) {
      const DWORD saved = GetLastError();
      Traits::Close(old);
      SetLastError(saved);
    }
  }

 private:
  T value_ = Traits::Invalid();
};

template <typename H, void (*CloseFn)(H), H (*InvalidFn)()>
struct HandleTraits {
  using Type = H;
  static H Invalid() { return InvalidFn(); }
  static void Close(H h) { CloseFn(h); }
};

template <typename H>
H NullOf() { return H{}; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }
inline SOCKET InvalidSocketValue() { return INVALID_SOCKET; }

inline void CloseHandleFn(HANDLE h) { ::CloseHandle(h); }
// Our windows keep their owner in GWLP_USERDATA. The owner is detached
// first, so the messages destruction sends (WM_DESTROY and the rest) find
// no half-destroyed owner; what workers posted and nobody took is freed.
void DestroyOwnedWindow(HWND h);
inline void DestroyWindowFn(HWND h) { DestroyOwnedWindow(h); }
inline void CloseSocketFn(SOCKET s) { ::closesocket(s); }
inline void DestroyIconFn(HICON h) { ::DestroyIcon(h); }
inline void DeleteObjectFn(HGDIOBJ h) { ::DeleteObject(h); }
inline void CloseDesktopFn(HDESK h) { ::CloseDesktop(h); }
inline void UnhookFn(HHOOK h) { ::UnhookWindowsHookEx(h); }
inline void ReleaseScreenDcFn(HDC h) { ::ReleaseDC(nullptr, h); }
inline void DeleteDcFn(HDC h) { ::DeleteDC(h); }
inline void UnregisterDeviceNotificationFn(HDEVNOTIFY h) { ::UnregisterDeviceNotification(h); }

using UniqueHandle = UniqueAny<HandleTraits<HANDLE, CloseHandleFn, NullOf<HANDLE>>>;
using UniqueFile = UniqueAny<HandleTraits<HANDLE, CloseHandleFn, InvalidHandleValue>>;
using UniqueHwnd = UniqueAny<HandleTraits<HWND, DestroyWindowFn, NullOf<HWND>>>;
using UniqueSocket = UniqueAny<HandleTraits<SOCKET, CloseSocketFn, InvalidSocketValue>>;
using UniqueHicon = UniqueAny<HandleTraits<HICON, DestroyIconFn, NullOf<HICON>>>;
using UniqueGdiObject = UniqueAny<HandleTraits<HGDIOBJ, DeleteObjectFn, NullOf<HGDIOBJ>>>;
// The screen's DC from GetDC(nullptr), and a DC made by CreateCompatibleDC.
using UniqueScreenDc = UniqueAny<HandleTraits<HDC, ReleaseScreenDcFn, NullOf<HDC>>>;
using UniqueMemoryDc = UniqueAny<HandleTraits<HDC, DeleteDcFn, NullOf<HDC>>>;
using UniqueHook = UniqueAny<HandleTraits<HHOOK, UnhookFn, NullOf<HHOOK>>>;
using UniqueDesktop = UniqueAny<HandleTraits<HDESK, CloseDesktopFn, NullOf<HDESK>>>;
using UniqueDeviceNotification =
    UniqueAny<HandleTraits<HDEVNOTIFY, UnregisterDeviceNotificationFn, NullOf<HDEVNOTIFY>>>;

}  // namespace tarvik::win
