// Heap payloads handed from a worker thread to a window's thread through its
// message queue. The payload travels as a Parcel, so whoever ends up holding
// the message frees it without knowing its type: the receiver that takes it,
// the sender whose post failed, or a window going away with it still queued
// (Windows drops messages queued for a destroyed window without a word).
#pragma once
#include "core/win/unique_any.h"  // <windows.h> first

#include <memory>
#include <utility>

namespace tarvik::win {

// Messages that carry a Parcel in lParam lie in this range and no others.
inline constexpr UINT kFirstParcelMsg = WM_APP + 0x200;
inline constexpr UINT kLastParcelMsg = WM_APP + 0x2FF;
constexpr bool IsParcelMsg(UINT msg) { return msg >= kFirstParcelMsg && msg <= kLastParcelMsg; }

struct Parcel {
  virtual ~Parcel() = default;
};
template <typename T>
struct ParcelOf final : Parcel {
  explicit ParcelOf(T v) : value(std::move(v)) {}
  T value;
};

// Posts `value` to `hwnd`. False when the window is gone (or its queue is
// full): the value is freed here, and GetLastError says why.
template <typename T>
bool PostParcel(HWND hwnd, UINT msg, WPARAM wp, T value) {
  auto parcel = std::make_unique<ParcelOf<T>>(std::move(value));
  Parcel* base = parcel.get();
  if (!PostMessageW(hwnd, msg, wp, reinterpret_cast<LPARAM>(base))) return false;
  parcel.release();  // the queue holds it now
  return true;
}

// The receiver's side: the value of a parcel posted with PostParcel<T>.
template <typename T>
T TakeParcel(LPARAM lp) {
  std::unique_ptr<Parcel> parcel(reinterpret_cast<Parcel*>(lp));
  return std::move(static_cast<ParcelOf<T>&>(*parcel).value);
}

// Frees a parcel nobody will take (a message that came after its owner).
inline void DropParcel(LPARAM lp) { delete reinterpret_cast<Parcel*>(lp); }

// Frees the parcels still queued for `hwnd` on this thread.
inline void DropQueuedParcels(HWND hwnd) {
  MSG m;
  while (PeekMessageW(&m, hwnd, kFirstParcelMsg, kLastParcelMsg, PM_REMOVE)) DropParcel(m.lParam);
}

}  // namespace tarvik::win
