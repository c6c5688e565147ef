#include "bluetooth/win/selection_window_win.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_dialogs.h"
#include "fakes/fake_link.h"
#include "core/win/event_pump_win.h"
#include "tools/common/bench_win.h"

namespace tarvik::win {
namespace {

// Finds one reader and counts the discoveries asked of it.
class OneReader : public wclBluetoothDiscovery {
 public:
  struct R : IRadio {
    std::string Name() const override { return "radio"; }
  };
  struct Reader : IDiscoveredDevice {
    std::string Address() const override { return "(00:1A:7D:DA:71:13)"; }
    std::string ReadName(const Radio&, std::int32_t& result) const override {
      result = 0;
      return "Scanner";
    }
  };
  std::int32_t ListRadios(std::vector<Radio>& radios) override {
    radios.push_back(std::make_shared<R>());
    return 0;
  }
  std::int32_t Discover(const Radio&, std::uint8_t, std::uint32_t) override {
    ++discoveries;
    return 0;
  }
  int discoveries = 0;
};

struct Selection {
  Selection() {
    logic.Form_Load();
    discovery.OnDiscoveryComplete(nullptr, DeviceList{std::make_shared<OneReader::Reader>()});
    ShowWindow(window.hwnd(), SW_SHOW);
    bench::ForceForeground(window.hwnd(), 5000);
  }
  // A key as the user's keyboard would bring it to the focused list.
  void Key(WPARAM vk) {
    SetFocus(window.list());
    PostMessageW(window.list(), WM_KEYDOWN, vk, 1);
    PostMessageW(window.list(), WM_KEYUP, vk, 0xC0000001);
  }
  // Runs the window as the main window does, until it closes. A key that
  // did nothing is followed by Esc, which must close it; if nothing does, a
  // timer does after a while, and the test fails.
  void RunUntilClosed() {
    PostMessageW(window.list(), WM_KEYDOWN, VK_ESCAPE, 1);
    static Selection* running;
    running = this;
    const UINT_PTR guard = SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) {
      running->forcedClose = true;
      running->window.Close();
    });
    RunModal(window, logic, nullptr, pump);
    KillTimer(nullptr, guard);
    EXPECT_FALSE(forcedClose) << "neither Enter nor Esc closed the window";
  }
  bool forcedClose = false;
  Win32EventPump pump;
  SelectionWindow window{nullptr, nullptr};
  testing::FakeDialogs dialogs;
  testing::FakeLibrary library;
  OneReader discovery;
  std::string deviceAddress = "COM1";
  testing::FakeControls mainWindow;
  DeviceSelection logic{{window, pump, dialogs, library, discovery, deviceAddress, mainWindow}};
};

TEST(SelectionWindow, EnterSelectsTheRowAndStartsNoDiscovery) {
  Selection s;
  ListView_SetItemState(s.window.list(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  s.Key(VK_RETURN);
  s.RunUntilClosed();
  EXPECT_EQ(s.deviceAddress, "00:1A:7D:DA:71:13");
  EXPECT_EQ(s.mainWindow.Caption(Ctl::Label25), "00:1A:7D:DA:71:13");
  EXPECT_EQ(s.discovery.discoveries, 0);
}

TEST(SelectionWindow, EnterWithNoRowSelectedDoesNothingAndEscCancels) {
  Selection s;
  s.Key(VK_RETURN);
  s.RunUntilClosed();  // closed by the Esc that follows
  EXPECT_EQ(s.deviceAddress, "COM1");
  EXPECT_EQ(s.discovery.discoveries, 0);
  EXPECT_EQ(ListView_GetItemCount(s.window.list()), 1);  // the list was not wiped
}

}  // namespace
}  // namespace tarvik::win
