#include "link/win/discovery_win.h"

#include <bluetoothapis.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "link/address.h"
#include "core/guard.h"
#include "core/win/handover_win.h"
#include "core/win/message_window_win.h"
#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kClassName[] = L"TarvikDiscovery";
constexpr UINT kStartedMsg = kFirstParcelMsg;       // a Radio
constexpr UINT kCompleteMsg = kFirstParcelMsg + 1;  // a Found

using FindFirstRadioFn = HBLUETOOTH_RADIO_FIND(WINAPI*)(const BLUETOOTH_FIND_RADIO_PARAMS*, HANDLE*);
using FindNextRadioFn = BOOL(WINAPI*)(HBLUETOOTH_RADIO_FIND, HANDLE*);
using FindRadioCloseFn = BOOL(WINAPI*)(HBLUETOOTH_RADIO_FIND);
using FindFirstDeviceFn = HBLUETOOTH_DEVICE_FIND(WINAPI*)(const BLUETOOTH_DEVICE_SEARCH_PARAMS*,
                                                          BLUETOOTH_DEVICE_INFO*);
using FindNextDeviceFn = BOOL(WINAPI*)(HBLUETOOTH_DEVICE_FIND, BLUETOOTH_DEVICE_INFO*);
using FindDeviceCloseFn = BOOL(WINAPI*)(HBLUETOOTH_DEVICE_FIND);
using GetDeviceInfoFn = DWORD(WINAPI*)(HANDLE, BLUETOOTH_DEVICE_INFO*);

struct BluetoothApi {
  FindFirstRadioFn findFirstRadio = nullptr;
  FindNextRadioFn findNextRadio = nullptr;
  FindRadioCloseFn findRadioClose = nullptr;
  FindFirstDeviceFn findFirstDevice = nullptr;
  FindNextDeviceFn findNextDevice = nullptr;
  FindDeviceCloseFn findDeviceClose = nullptr;
  GetDeviceInfoFn getDeviceInfo = nullptr;
  bool ok = false;
};

// Loaded once and never unloaded: discovery threads may outlive any window.
const BluetoothApi& Api() {
  static const BluetoothApi api = [] {
    BluetoothApi a;
    HMODULE m = LoadLibraryExW(L"bthprops.cpl", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!m) return a;
    auto get = [m](const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); };
    a.findFirstRadio = reinterpret_cast<FindFirstRadioFn>(get("BluetoothFindFirstRadio"));
    a.findNextRadio = reinterpret_cast<FindNextRadioFn>(get("BluetoothFindNextRadio"));
    a.findRadioClose = reinterpret_cast<FindRadioCloseFn>(get("BluetoothFindRadioClose"));
    a.findFirstDevice = reinterpret_cast<FindFirstDeviceFn>(get("BluetoothFindFirstDevice"));
    a.findNextDevice = reinterpret_cast<FindNextDeviceFn>(get("BluetoothFindNextDevice"));
    a.findDeviceClose = reinterpret_cast<FindDeviceCloseFn>(get("BluetoothFindDeviceClose"));
    a.getDeviceInfo = reinterpret_cast<GetDeviceInfoFn>(get("BluetoothGetDeviceInfo"));
    a.ok = a.findFirstRadio && a.findNextRadio && a.findRadioClose && a.findFirstDevice &&
           a.findNextDevice && a.findDeviceClose && a.getDeviceInfo;
    return a;
  }();
  return api;
}

class Win32Radio : public IRadio {
 public:
  explicit Win32Radio(HANDLE h) : handle_(h) {}
  HANDLE handle() const { return handle_.get(); }

 private:
  UniqueHandle handle_;
};

class Win32Device : public IDiscoveredDevice {
 public:
  explicit Win32Device(const BLUETOOTH_DEVICE_INFO& info) : info_(info) {}
  std::string Address() const override {
    std::string text = "(";
    text += FormatBluetoothAddress(info_.Address.ullLong);
    text += ')';
    return text;
  }
  std::string ReadName(const Radio& radio, std::int32_t& result) const override {
    // The name can be empty until Windows has resolved it: ask again.
    if (info_.szName[0] == 0) {
      auto* r = dynamic_cast<Win32Radio*>(radio.get());
      BLUETOOTH_DEVICE_INFO fresh = info_;
      const DWORD e = r && Api().ok ? Api().getDeviceInfo(r->handle(), &fresh)
                                    : static_cast<DWORD>(ERROR_INVALID_HANDLE);
      result = static_cast<std::int32_t>(e);
      return e == ERROR_SUCCESS ? Narrow(fresh.szName) : std::string();
    }
    result = 0;
    return Narrow(info_.szName);
  }

 private:
  BLUETOOTH_DEVICE_INFO info_;
};

struct Found {
  Radio radio;
  std::optional<DeviceList> devices;
};

}  // namespace

Win32Discovery::Win32Discovery()
    : hwnd_(CreateMessageWindow(kClassName, &Win32Discovery::WndProc, this, L"device discovery")) {}

// A discovery still running posts to a window that is gone; its result is
// then freed on its thread, and no event reaches anyone.
Win32Discovery::~Win32Discovery() = default;

std::int32_t Win32Discovery::ListRadios(std::vector<Radio>& radios) {
  radios.clear();
  const BluetoothApi& api = Api();
  if (!api.ok) return ERROR_PROC_NOT_FOUND;
  BLUETOOTH_FIND_RADIO_PARAMS params{sizeof(params)};
  HANDLE radio = nullptr;
  HBLUETOOTH_RADIO_FIND find = api.findFirstRadio(&params, &radio);
  if (!find) {
    const DWORD e = GetLastError();
    return e == ERROR_NO_MORE_ITEMS ? 0 : static_cast<std::int32_t>(e);
  }
  do {
    radios.push_back(std::make_shared<Win32Radio>(radio));
  } while (api.findNextRadio(find, &radio));
  api.findRadioClose(find);
  return 0;
}

std::int32_t Win32Discovery::Discover(const Radio& radio, std::uint8_t timeout, std::uint32_t) {
  auto* r = dynamic_cast<Win32Radio*>(radio.get());
  if (!r || !Api().ok) return wcl::kNoRadio;
  if (running_) return wcl::kBusy;
  running_ = true;
  PostParcel(hwnd_.get(), kStartedMsg, 0, radio);
  const HWND notify = hwnd_.get();
  // The inquiry lasts multiplier x 1.28 s; the system takes at most 48.
  constexpr std::uint8_t kMaxInquiryMultiplier = 48;
  const UCHAR multiplier = std::clamp<std::uint8_t>(timeout, 1, kMaxInquiryMultiplier);
  // The inquiry blocks for its whole length: a thread of its own, holding
  // its own reference to the radio.
  std::thread([notify, radio, multiplier] { RunOrStop("Looking for readers", [&] {
    Found found{radio, std::nullopt};
    const BluetoothApi& api = Api();
    BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
    params.dwSize = sizeof(params);
    params.fReturnAuthenticated = params.fReturnRemembered = params.fReturnUnknown =
        params.fReturnConnected = TRUE;
    params.fIssueInquiry = TRUE;
    params.cTimeoutMultiplier = multiplier;
    params.hRadio = static_cast<Win32Radio*>(radio.get())->handle();
    BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof(info);
    HBLUETOOTH_DEVICE_FIND find = api.findFirstDevice(&params, &info);
    if (find) {
      DeviceList list;
      do {
        list.push_back(std::make_shared<Win32Device>(info));
        info = BLUETOOTH_DEVICE_INFO{};
        info.dwSize = sizeof(info);
      } while (api.findNextDevice(find, &info));
      api.findDeviceClose(find);
      found.devices = std::move(list);
    } else if (GetLastError() == ERROR_NO_MORE_ITEMS) {
      found.devices = DeviceList{};
    }
    PostParcel(notify, kCompleteMsg, 0, std::move(found));
  }); }).detach();
  return 0;
}

LRESULT CALLBACK Win32Discovery::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<Win32Discovery*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) {
    if (IsParcelMsg(msg)) DropParcel(lp);
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  if (msg == kStartedMsg) {
    const Radio radio = TakeParcel<Radio>(lp);
    if (self->OnDiscoveryStarted) RunOrStop("The start of a search for readers", [&] { self->OnDiscoveryStarted(radio); });
    return 0;
  }
  if (msg == kCompleteMsg) {
    const Found found = TakeParcel<Found>(lp);
    self->running_ = false;
    if (self->OnDiscoveryComplete)
      RunOrStop("The end of a search for readers", [&] { self->OnDiscoveryComplete(found.radio, found.devices); });
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace tarvik::win
