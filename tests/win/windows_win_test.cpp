#include "link/win/selection_window_win.h"

#include <commctrl.h>
#include <imm.h>
#include <gtest/gtest.h>

#include "core/win/event_pump_win.h"
#include "core/win/services_win.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "shell/tray.h"
#include "shell/win/rx_window_win.h"
#include "shell/win/session_front_win.h"
#include "shell/win/shell_win.h"
#include "tools/common/bench_win.h"
#include "keys/win/key_target_win.h"
#include "keys/win/send_keys_win.h"
#include "win_test_util.h"

namespace tarvik::win {
namespace {

// The window with the reader listed, run modally after a key, then Esc.
struct Selection {
  void RunAfterKey(WPARAM vk, bool rowSelected) {
    logic.Form_Load();
    discovery.OnDiscoveryComplete(nullptr,
                                  DeviceList{std::make_shared<testing::FakeDevice>("(00:1A:7D:DA:71:13)", "Scanner")});
    ShowWindow(window.hwnd(), SW_SHOW);
    bench::ForceForeground(window.hwnd(), 5000);
    if (rowSelected)
      ListView_SetItemState(window.list(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(window.list());
    PostMessageW(window.list(), WM_KEYDOWN, vk, 1);
    PostMessageW(window.list(), WM_KEYUP, vk, 0xC0000001);
    PostMessageW(window.list(), WM_KEYDOWN, VK_ESCAPE, 1);
    static Selection* running;
    running = this;  // if neither key closes it, this does, and the test fails
    const UINT_PTR guard = SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) {
      running->forcedClose = true, running->window.Close();
    });
    RunModal(window, logic, nullptr, pump);
    KillTimer(nullptr, guard);
    EXPECT_FALSE(forcedClose) << "neither Enter nor Esc closed the window";
    EXPECT_EQ(discovery.lastTimeout, -1);  // no discovery
  }
  bool forcedClose = false;
  Win32EventPump pump;
  SelectionWindow window{nullptr, nullptr};
  testing::FakeDialogs dialogs;
  testing::FakeLibrary library;
  testing::FakeDiscovery discovery;
  std::string deviceAddress = "COM1";
  testing::FakeControls mainWindow;
  DeviceSelection logic{{window, pump, dialogs, library, discovery, deviceAddress, mainWindow}};
};

TEST(SelectionWindow, EnterSelectsTheRowIfAnyAndEscCancels) {
  for (bool rowSelected : {true, false}) {
    SCOPED_TRACE(rowSelected);
    Selection s;
    s.RunAfterKey(VK_RETURN, rowSelected);
    EXPECT_EQ(s.deviceAddress, rowSelected ? "00:1A:7D:DA:71:13" : "COM1");
    EXPECT_EQ(ListView_GetItemCount(s.window.list()), 1);
  }
}

// The shell refuses the icon twice, as at log-on: tried again each second.
TEST(Tray, WhileTheShellRefusesTheIconTheWindowWaitsOnTheTaskbar) {
  auto rx = RxWindow::Create(GetModuleHandleW(nullptr));
  const HWND hwnd = rx->hwnd();
  int adds = 0;
  RxShell shell(hwnd, rx->smallIcon(), [&](DWORD message, NOTIFYICONDATAA* record) -> BOOL {
    if (message == NIM_ADD && ++adds <= 2) return SetLastError(ERROR_TIMEOUT), FALSE;
    return Shell_NotifyIconA(message, record);
  });
  shell.FillTrayRecord();
  WindowTimer retry(hwnd, 4, 1000);
  Tray tray(shell, retry);
  rx->onTimer = [&](UINT_PTR id) { if (id == 4) tray.Retry_Timer(); };
  rx->onMessage = [&](UINT msg, WPARAM, LPARAM) { return msg == WM_SIZE && (tray.Form_Resize(), true); };
  ShowWindow(hwnd, SW_SHOWNORMAL);
  testing::PumpUntil([] { return false; }, 100);

  const ULONGLONG start = GetTickCount64();
  shell.SetState(WindowState::Minimized);
  EXPECT_EQ(adds, 1);
  EXPECT_TRUE(IsIconic(hwnd) && IsWindowVisible(hwnd));  // on the taskbar, reachable
  ASSERT_TRUE(testing::PumpUntil([&] { return !IsWindowVisible(hwnd); }, 15000));
  EXPECT_EQ(adds, 3);
  EXPECT_GE(GetTickCount64() - start, 1500u);  // two retries, a second apart
  EXPECT_TRUE(IsIconic(hwnd) && tray.InTray() && !retry.Enabled());
  shell.TrayDelete();
}

// A program whose token is closed to us (another account's, or one whose
// security forbids the question) is judged by whether our message reaches its
// window. Wine reads every token and has no UIPI: the unread token is a stand-in,
// the message and the system's answer to it are real; a refused one only a seam shows.
class UnreadToken : public Win32ForegroundQueries {
 public:
  std::optional<ProcessFacts> Facts(DWORD pid) override {
    auto facts = Win32ForegroundQueries::Facts(pid);
    if (facts) facts->integrity.reset();
    return facts;
  }
};

TEST(KeyTarget, AWindowInFrontTakesTheKeysByItsLevelOrWhereOurMessagesReachIt) {
  const UniqueHwnd window = testing::FrontWindow();
  const KeyTarget ordinary = Win32KeyTarget().Query();
  EXPECT_TRUE(ordinary.inputDesktopIsOurs && ordinary.hasForeground);
  ASSERT_TRUE(ordinary.targetIntegrity);
  EXPECT_EQ(*ordinary.targetIntegrity, ordinary.ownIntegrity);
  EXPECT_GE(ordinary.ownIntegrity, 0x1000u);  // low or above: a real level was read
  EXPECT_EQ(ordinary.program, "tarvik_win_tests.exe");

  UnreadToken system;
  const KeyTarget t = Win32KeyTarget(system, 0x2000).Query();
  EXPECT_FALSE(t.targetIntegrity);
  EXPECT_EQ(t.takesMessages, std::optional<bool>(true));
  EXPECT_TRUE(DecideReach(t).ok());
  // The message went to the window, which leaves it to the default handling.
  MSG probe{};
  ASSERT_TRUE(PeekMessageW(&probe, window.get(), WM_USER, 0xFFFF, PM_REMOVE));
  EXPECT_EQ(probe.message, RegisterWindowMessageW(L"Tarvik.KeyReachProbe"));
  EXPECT_EQ(DefWindowProcW(window.get(), probe.message, probe.wParam, probe.lParam), 0);
  // A window gone says neither: not typed into, and the user is told what is known.
  HWND gone = CreateWindowExW(0, L"STATIC", L"gone", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  KeyTarget unknown = t;
  unknown.takesMessages = system.TakesMessages(gone);
  EXPECT_EQ(unknown.takesMessages, std::nullopt);
  EXPECT_EQ(UnreachableMessage(DecideReach(unknown)),
            "A scan was not typed: Tarvik cannot tell whether tarvik_win_tests.exe takes keys from it.");
}

// A window of our own on Wine's US layout, with COM as the program has it:
// the text services and the window's input method are asked, nothing
// composes, and the input method window says it is off. Opened, it is
// Unicode; under a Japanese layout, its open state decides.
TEST(Keyboard, TheFocusedWindowsInputMethodDecidesUnicodeOrKeys) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    const UniqueHwnd window = testing::FrontWindow();
    Win32Keyboard keyboard;
    keyboard.FocusedLayout();
    const InputProfile p = keyboard.FocusedInputProfile();
    EXPECT_EQ(p.layout, reinterpret_cast<std::uintptr_t>(GetKeyboardLayout(0)));
    EXPECT_NE(p.kind, InputProfile::Kind::kTextService);
    EXPECT_EQ(p.open, false);
    EXPECT_FALSE(SendsUnicode(p, KeyMode::kAuto));
    const HKL japanese = reinterpret_cast<HKL>(0x04110411);
    EXPECT_FALSE(SendsUnicode(InputProfileOf(window.get(), japanese, p.kind), KeyMode::kAuto));
    HIMC context = ImmGetContext(window.get());
    ASSERT_TRUE(context && ImmSetOpenStatus(context, TRUE));
    EXPECT_EQ(keyboard.FocusedInputProfile().open, true);
    EXPECT_TRUE(SendsUnicode(InputProfileOf(window.get(), japanese, p.kind), KeyMode::kAuto));
    EXPECT_FALSE(SendsUnicode(keyboard.FocusedInputProfile(), KeyMode::kLayout));
    ImmSetOpenStatus(context, FALSE);
    ImmReleaseContext(window.get(), context);
  }
  CoUninitialize();
}

// This session's connects and disconnects move it; a lock does not (a
// locked user in front keeps the reader), nor another session's events.
TEST(SessionFront, ConnectsAndDisconnectsOfThisSessionOnly) {
  const UniqueHwnd window = testing::FrontWindow();
  SessionFront front(window.get());
  EXPECT_EQ(front.Problem(), "");
  DWORD mine = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &mine));
  const LPARAM other = mine + 1;
  const struct {
    WPARAM event;
    LPARAM session;
    std::optional<bool> front;
    bool unlocked = false;
  } cases[] = {
      {WTS_CONSOLE_DISCONNECT, mine, false}, {WTS_REMOTE_DISCONNECT, mine, false},
      {WTS_CONSOLE_CONNECT, mine, true},     {WTS_REMOTE_CONNECT, mine, true},
      {WTS_SESSION_LOCK, mine, std::nullopt}, {WTS_SESSION_UNLOCK, mine, std::nullopt, true},
      {WTS_SESSION_LOGON, mine, std::nullopt}, {WTS_CONSOLE_DISCONNECT, other, std::nullopt},
      {WTS_SESSION_UNLOCK, other, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(front.Changed(c.event, c.session), c.front) << c.event << " " << c.session;
    EXPECT_EQ(front.Unlocked(c.event, c.session), c.unlocked) << c.event << " " << c.session;
  }
  EXPECT_NE(front.Now(), false);  // Wine's one session is the one in front
}

}  // namespace
}  // namespace tarvik::win

int wmain(int argc, wchar_t** argv) {  // linked with -municode
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
