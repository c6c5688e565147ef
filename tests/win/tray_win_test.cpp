#include <gtest/gtest.h>

#include "shell/tray.h"
#include "shell/win/rx_window_win.h"
#include "core/win/services_win.h"
#include "shell/win/shell_win.h"
#include "win_test_util.h"

namespace tarvik::win {
namespace {

constexpr UINT_PTR kRetryTimer = 4;

// The shell refuses the icon twice (as at log-on, before it is ready): the
// main window is never hidden without an icon, it waits minimized on the
// taskbar, and the icon is tried again each second until it is in.
TEST(Tray, WhileTheShellRefusesTheIconTheWindowWaitsOnTheTaskbar) {
  auto rx = RxWindow::Create(GetModuleHandleW(nullptr));
  int adds = 0, refusals = 2;
  RxShell shell(rx->hwnd(), rx->smallIcon(), [&](DWORD message, NOTIFYICONDATAA* record) -> BOOL {
    if (message == NIM_ADD) {
      ++adds;
      if (refusals > 0) {
        --refusals;
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
      }
    }
    return Shell_NotifyIconA(message, record);
  });
  shell.FillTrayRecord();
  WindowTimer retry(rx->hwnd(), kRetryTimer, 1000);
  Tray tray(shell, retry);
  rx->onTimer = [&](UINT_PTR id) {
    if (id == kRetryTimer) tray.Retry_Timer();
  };
  rx->onMessage = [&](UINT msg, WPARAM, LPARAM) {
    if (msg == WM_SIZE) tray.Form_Resize();
    return msg == WM_SIZE;
  };
  ShowWindow(rx->hwnd(), SW_SHOWNORMAL);
  testing::PumpUntil([] { return false; }, 100);

  const ULONGLONG start = GetTickCount64();
  shell.SetState(WindowState::Minimized);
  EXPECT_EQ(adds, 1);
  EXPECT_TRUE(IsIconic(rx->hwnd()));
  EXPECT_TRUE(IsWindowVisible(rx->hwnd()));  // on the taskbar, reachable
  ASSERT_TRUE(testing::PumpUntil([&] { return !IsWindowVisible(rx->hwnd()); }, 15000));
  EXPECT_EQ(adds, 3);
  EXPECT_GE(GetTickCount64() - start, 1500u);  // two retries, a second apart
  EXPECT_TRUE(IsIconic(rx->hwnd()));
  EXPECT_TRUE(tray.InTray());
  EXPECT_FALSE(retry.Enabled());
  shell.TrayDelete();
}

}  // namespace
}  // namespace tarvik::win
