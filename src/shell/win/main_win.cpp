// tarvik.exe: the main window, its library objects and its message loop.
#include <stdexcept>

#include "bluetooth/win/client_win.h"
#include "bluetooth/win/discovery_win.h"
#include "bluetooth/win/library_win.h"
#include "common/win/guard_win.h"
#include "common/win/text_win.h"
#include "settings/win/settings_store_win.h"
#include "shell/rx_form.h"
#include "shell/win/event_pump_win.h"
#include "shell/win/rx_window_win.h"
#include "shell/win/services_win.h"
#include "shell/win/winpath_win.h"
#include "wedge/win/send_keys_win.h"

using namespace tarvik;
using namespace tarvik::win;

namespace {

constexpr UINT_PTR kTimer3 = 3;

int Run(HINSTANCE instance) {
  Win32EventPump pump;
  Win32Clock clock;
  Win32KeySender keys;
  Win32Sound sound;
  AnsiCodePage codePage;
  auto rx = RxWindow::Create(instance);
  pump.SetDialogWindow(rx->hwnd());
  WindowTimer timer3(rx->hwnd(), kTimer3, 64000);
  Win32LibraryManager library;
  Win32Client client;
  Win32Discovery discovery;
  auto store = Win32SettingsStore::ChooseAtStart(GetWinPath());

  RxForm form({*rx, pump, clock, keys, sound, codePage, timer3, library, client, discovery, store,
               [] { return GetWinPath(); }});
  rx->onChange = [&](Ctl ctl) { form.OnControlChanged(ctl); };
  rx->onTimer = [&](UINT_PTR id) {
    if (id == kTimer3) form.Timer3_Timer();
  };
  rx->onClose = [&] { form.Form_Unload(); };
  form.Form_Load();
  ShowWindow(rx->hwnd(), SW_SHOWNORMAL);
  UpdateWindow(rx->hwnd());
  return pump.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    return Run(instance);
  } catch (const std::exception& e) {
    FatalError(std::string("Tarvik could not start. ") + e.what());
  }
}
