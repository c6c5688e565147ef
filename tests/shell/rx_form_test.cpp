#include "shell/rx_form.h"

#include <gtest/gtest.h>

#include "bluetooth/device_selection.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_dialogs.h"
#include "fakes/fake_keys.h"
#include "fakes/fake_link.h"
#include "fakes/fake_log.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;

using Log = std::vector<std::string>;

class LoggedLibrary : public LibraryManager {
 public:
  LoggedLibrary(Log& log, const FakeClient& client) : log_(log), client_(client) {}
  std::int32_t Open() override { return log_.push_back("library open"), 0; }
  // Says whether the link was still open when the library went.
  std::int32_t Close() override {
    return log_.push_back(client_.state ? "library close, link up" : "library close"), 0;
  }
  void ReportResult(std::int32_t) override {}
  Log& log_;
  const FakeClient& client_;
};

class LoggedTimer : public FakeTimer {
 public:
  LoggedTimer(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
  void SetEnabled(bool e) override { FakeTimer::SetEnabled(e), log_.push_back(name_ + (e ? " on" : " off")); }
  Log& log_;
  std::string name_;
};

class MemoryStore : public ISettingsStore {
 public:
  explicit MemoryStore(Log& log) : log_(log) {}
  bool Exists() const override { return content.has_value(); }
  std::optional<std::string> Read() const override { return content; }
  bool Write(const std::string& b) override {
    log_.push_back("save");
    if (!fail) content = b;
    return !fail;
  }
  std::string Describe() const override { return "C:\\WINDOWS\\pelrin.ini"; }
  std::string LastError() const override { return "Access is denied. (error 5)"; }
  bool fail = false;
  std::optional<std::string> content;
  Log& log_;
};

// Resizes are raised as Windows does.
class FakeShell : public IWindowShell {
 public:
  WindowState State() const override { return state; }
  void SetState(WindowState s) override {
    state = s;
    visible |= s == WindowState::Normal;
    if (onResize) onResize();
  }
  void Hide() override { visible = false; }
  void Show() override { visible = true; }
  double TwipsPerPixelX() const override { return twipsPerPixel; }
  void ShowMinimized() override { visible = true; }
  bool TrayAdd() override {
    ++adds;
    if (refuseAdds > 0) return --refuseAdds, false;
    return ++icons, true;
  }
  void TrayDelete() override { icons -= icons > 0; }
  WindowState state = WindowState::Normal;
  bool visible = true;
  int icons = 0, adds = 0, refuseAdds = 0;
  double twipsPerPixel = 15;
  std::function<void()> onResize;
};

class NoDiscovery : public wclBluetoothDiscovery {
 public:
  std::int32_t ListRadios(std::vector<Radio>&) override { return 120; }
  std::int32_t Discover(const Radio&, std::uint8_t, std::uint32_t) override { return 0; }
};

struct Program {
  Program() {
    shell.onResize = [this] { form.Form_Resize(); };
    controls.onChange = [this](Ctl c) { form.OnControlChanged(c); };
  }
  Log log;
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  RecordingKeys keys{clock};
  FakeSound sound{pump, clock};
  FakeDecoder codePage;
  LoggedTimer timer1{log, "Timer1"}, timer3{log, "Timer3"};
  FakeClient client{clock};
  LoggedLibrary library{log, client};
  NoDiscovery discovery;
  MemoryStore store{log};
  FakeDialogs dialogs;
  FakeShell shell;
  LoggedTimer trayRetry{log, "TrayRetry"};
  FakeTarget target;
  FakeNotice notice;
  RecordingLog diag;
  int ended = 0, selections = 0;
  RxForm form{{controls, pump, clock, keys, sound, codePage, timer3, library, client, discovery, store,
               [] { return std::string("C:\\WINDOWS"); }, dialogs, shell, timer1,
               [this] { ++ended; }, [this] { ++selections, log.push_back("selection window"); },
               [this] { log.push_back("tray record"); },
               trayRetry, target, notice, diag}};
};

TEST(RxForm, TheLoadInItsOrderThenTheStartUpTickGoesToTheTrayAndConnectsOnce) {
  Program p;
  p.store.content = "1\r\n1\r\n\"COM7\"\r\n0,3\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n";
  p.form.Form_Load();
  EXPECT_EQ(p.log, (std::vector<std::string>{"Timer3 off", "library open", "tray record", "save", "Timer1 on"}));
  EXPECT_EQ(p.controls.Caption(Ctl::Label25), "COM7");
  EXPECT_EQ(p.controls.ListIndex(Ctl::Combo1), 3);
  EXPECT_EQ(p.client.connects, 0);  // nothing connects before the start-up tick
  p.client.state = 0;
  p.log.clear();
  p.form.Timer1_Timer();
  EXPECT_EQ(p.log.front(), "Timer1 off");
  EXPECT_EQ(p.shell.state, WindowState::Minimized);
  EXPECT_FALSE(p.shell.visible);
  EXPECT_EQ(p.shell.icons, 1);
  EXPECT_EQ(p.client.connects, 1);
  EXPECT_EQ(p.client.Parameters.address, "(COM7)");
}

TEST(RxForm, TrayEventsDecodedFromThePointersX) {
  Program p;
  p.shell.SetState(WindowState::Minimized);
  ASSERT_EQ(p.shell.icons, 1);
  for (int code : {0x200, 0x201, 0x204, 0x206, 0x207, 0x208}) {
    p.form.Form_MouseMove(code * 15.0);
    EXPECT_EQ(p.shell.icons, 1) << code;
    EXPECT_FALSE(p.shell.visible) << code;
  }
  p.form.Form_MouseMove(0x202 * 15.0);  // left button released
  EXPECT_TRUE(p.shell.visible);
  EXPECT_EQ(p.shell.state, WindowState::Normal);
  EXPECT_EQ(p.shell.icons, 0);
  for (int code : {0x203, 0x205}) {
    p.shell.SetState(WindowState::Minimized);
    EXPECT_EQ(p.shell.icons, 1);
    p.form.Form_MouseMove(code * 15.0);
    EXPECT_EQ(p.shell.icons, 0);
  }
  // At 12 twips a pixel the codes still come out.
  p.shell.twipsPerPixel = 12;
  p.shell.SetState(WindowState::Minimized);
  p.form.Form_MouseMove(0x202 * 12.0);
  EXPECT_TRUE(p.shell.visible);
  p.form.Form_MouseMove(514 * 12.0);  // a real pointer on the shown window: harmless
  EXPECT_TRUE(p.shell.visible);
  EXPECT_EQ(p.shell.icons, 0);
  p.shell.SetState(WindowState::Minimized);  // a second start brings the window back
  p.form.BringBack();
  EXPECT_TRUE(p.shell.visible);
  EXPECT_EQ(p.shell.icons, 0);
}

TEST(RxForm, TheIconComesBackWhenTheShellRestarts) {
  Program p;
  p.form.TaskbarCreated();
  EXPECT_EQ(p.shell.adds, 0);  // shown: no icon to add
  p.shell.SetState(WindowState::Minimized);
  p.shell.icons = 0;  // the new shell has none
  p.form.TaskbarCreated();
  EXPECT_EQ(p.shell.icons, 1);
  p.shell.icons = 0;
  p.shell.refuseAdds = 1;  // one that refuses it: onto the taskbar, and retried
  p.form.TaskbarCreated();
  EXPECT_TRUE(p.shell.visible);
  EXPECT_TRUE(p.trayRetry.enabled);
}

TEST(RxForm, WhileTheShellRefusesTheIconTheWindowWaitsOnTheTaskbar) {
  Program p;
  p.shell.refuseAdds = 2;
  p.shell.SetState(WindowState::Minimized);  // never hidden without an icon
  EXPECT_TRUE(p.shell.visible);
  EXPECT_TRUE(p.trayRetry.enabled);
  p.form.TrayRetry_Timer();
  EXPECT_TRUE(p.shell.visible);
  p.form.TrayRetry_Timer();
  EXPECT_FALSE(p.shell.visible);
  EXPECT_EQ(p.shell.icons, 1);
  EXPECT_FALSE(p.trayRetry.enabled);
  EXPECT_TRUE(p.form.InTray());
  // A shell that comes up between two retries is used at once.
  p.form.Form_MouseMove(0x202 * 15.0);
  p.shell.refuseAdds = 1;
  p.shell.SetState(WindowState::Minimized);
  p.form.TaskbarCreated();
  EXPECT_FALSE(p.shell.visible);
  EXPECT_EQ(p.shell.adds, 5);
  // Restored from the taskbar while waiting: the retries stop.
  p.form.Form_MouseMove(0x202 * 15.0);
  p.shell.refuseAdds = 1;
  p.shell.SetState(WindowState::Minimized);
  p.shell.SetState(WindowState::Normal);
  p.form.TrayRetry_Timer();
  EXPECT_FALSE(p.trayRetry.enabled);
  EXPECT_EQ(p.shell.adds, 6);
}

TEST(RxForm, QuitAsksAndEndsOnlyOnYes) {
  Program p;
  p.form.Command3_Click();
  EXPECT_EQ(p.dialogs.beeps, 1);
  EXPECT_EQ(p.dialogs.asked, (std::vector<std::string>{"(!) Quit ZAM Wedge ?"}));
  EXPECT_EQ(p.ended, 0);
  p.dialogs.answer = true;
  p.form.Command3_Click();
  EXPECT_EQ(p.ended, 1);
  EXPECT_EQ(std::count(p.log.begin(), p.log.end(), "library close"), 0);
}

TEST(RxForm, UnloadClosesTheLinkBeforeTheLibrary) {
  Program p;
  p.form.Form_Load();
  p.client.state = 2;
  p.log.clear();
  p.form.Form_Unload();
  EXPECT_EQ(p.client.disconnects, 1);
  EXPECT_EQ(p.log, (std::vector<std::string>{"library close"}));
}

TEST(RxForm, SelectDeviceSavesAfterTheWindowWhateverHappened) {
  Program p;
  p.form.Form_Load();
  p.log.clear();
  p.form.Command6_Click();
  EXPECT_EQ(p.log, (std::vector<std::string>{"Timer3 off", "selection window", "save"}));
}

// The log never holds a record's characters: barcodes can carry personal data.
TEST(RxForm, TheLogTellsWhatHappenedButNeverWhatWasScanned) {
  Program p;
  p.store.content = "0\r\n0\r\n\"COM7\"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n";
  p.form.Form_Load();
  p.client.state = 0;
  p.form.Timer1_Timer();
  p.controls.minimized = true;  // as the shell's minimize left it
  p.client.state = 2;
  p.client.OnConnect(0);
  p.client.OnData(Bytes("SECRET123\r\nPII-4711\r\n"));
  p.target.target.inputDesktopIsOurs = false;
  p.client.OnData(Bytes("LOCKED9\r\n"));
  p.form.Form_MouseMove(0x202 * 15.0);  // back from the tray
  p.controls.minimized = false;
  p.client.OnData(Bytes("SHOWN77\r\n"));
  p.client.dropReason = wcl::kClosedByPeer;
  p.client.state = 0;
  p.client.OnDisconnect();
  p.store.fail = true;
  p.controls.SetListIndex(Ctl::Combo1, 2);
  EXPECT_EQ(p.diag.events, (std::vector<std::string>{"Settings: C:\\WINDOWS\\pelrin.ini", "Link to COM7 open",
                "Record of 9 characters: typed", "Record of 8 characters: typed",
                "Record of 7 characters: not typed: locked or secure desktop",
                "Record of 7 characters: shown only (the window is not in the tray)",
                "Link to COM7 dropped: -8 (the reader closed the link)",
                "The settings could not be saved: Access is denied. (error 5)",
            }));
  for (const char* scanned : {"SECRET", "PII", "4711", "LOCKED", "SHOWN"})
    EXPECT_EQ(p.diag.Text().find(scanned), std::string::npos) << scanned;
}

class FakeView : public ISelectionView {
 public:
  void SetStatus(const std::string& t) override { status = t; }
  void ClearRows() override { rows.clear(); }
  void AddRow(const std::string& a, const std::string& n) override { rows.push_back({a, n}); }
  std::optional<std::string> SelectedAddress() const override {
    return selected < 0 ? std::nullopt : std::optional(rows.at(static_cast<size_t>(selected)).first);
  }
  void Close() override { closed = true; }
  std::string status;
  std::vector<std::pair<std::string, std::string>> rows;
  int selected = -1;
  bool closed = false;
};

class ScriptedDiscovery : public wclBluetoothDiscovery {
 public:
  std::int32_t ListRadios(std::vector<Radio>& r) override {
    if (radio) r.push_back(radio);
    return radio ? 0 : 120;
  }
  std::int32_t Discover(const Radio&, std::uint8_t timeout, std::uint32_t flags) override {
    return lastTimeout = timeout, lastFlags = flags, 0;
  }
  int lastTimeout = -1;
  std::uint32_t lastFlags = 99;
  // Never looked into: any non-null handle will do.
  Radio radio{std::shared_ptr<void>(), reinterpret_cast<IRadio*>(&lastTimeout)};
};

class Device : public IDiscoveredDevice {
 public:
  Device(std::string a, std::string n, std::int32_t r) : a_(std::move(a)), n_(std::move(n)), r_(r) {}
  std::string Address() const override { return a_; }
  std::string ReadName(const Radio&, std::int32_t& result) const override { return result = r_, n_; }
  std::string a_, n_;
  std::int32_t r_;
};

struct Selection {
  FakeView view;
  FakeClock clock;
  FakePump pump{clock};
  FakeDialogs dialogs;
  FakeLibrary library;
  ScriptedDiscovery discovery;
  std::string deviceAddress = "COM1";
  FakeControls main;
  DeviceSelection window{{view, pump, dialogs, library, discovery, deviceAddress, main}};
  Selection() { window.Form_Load(); }
};

TEST(DeviceSelection, RowsForEveryOutcome) {
  Selection s;
  s.window.btDiscover_Click();
  EXPECT_EQ(s.view.status, "Discovering... Wait please...");
  EXPECT_EQ(s.discovery.lastTimeout, 15);
  EXPECT_EQ(s.discovery.lastFlags, 0u);
  s.view.rows = {{"(old)", "row"}};
  s.discovery.OnDiscoveryStarted(s.discovery.radio);
  EXPECT_TRUE(s.view.rows.empty());
  DeviceList found = {std::make_shared<Device>("(00:1A:7D:DA:71:13)", "Scanner", 0),
                      std::make_shared<Device>("(00:11:22:33:44:55)", "", 5),
                      std::make_shared<Device>("(AA)", "", -7)};
  s.discovery.OnDiscoveryComplete(s.discovery.radio, found);
  EXPECT_EQ(s.view.status, "");
  EXPECT_EQ(s.view.rows, (std::vector<std::pair<std::string, std::string>>{
                             {"(00:1A:7D:DA:71:13)", "Scanner"}, {"(00:11:22:33:44:55)", "Error  5"}, {"(AA)", "Error -7"}}));
  s.discovery.OnDiscoveryComplete(s.discovery.radio, DeviceList{});
  s.discovery.OnDiscoveryComplete(s.discovery.radio, std::nullopt);
  EXPECT_EQ(s.dialogs.informed, (std::vector<std::string>{"Nothing found", "Discovery complete with error"}));
  Selection none;
  none.discovery.radio = nullptr;
  none.window.btDiscover_Click();
  EXPECT_EQ(none.dialogs.informed, (std::vector<std::string>{"No Bluetooth API was found."}));
  EXPECT_EQ(none.discovery.lastTimeout, -1);
}

TEST(DeviceSelection, SelectStoresTheAddressLessItsParenthesesCancelNothing) {
  Selection s;
  s.window.btConnect_Click();  // nothing selected: nothing happens
  EXPECT_EQ(s.deviceAddress, "COM1");
  EXPECT_FALSE(s.view.closed);
  s.view.rows = {{"(00:1A:7D:DA:71:13)", "Scanner"}, {"()", ""}};
  s.view.selected = 0;
  s.window.btConnect_Click();
  EXPECT_EQ(s.deviceAddress, "00:1A:7D:DA:71:13");
  EXPECT_EQ(s.main.Caption(Ctl::Label25), "00:1A:7D:DA:71:13");
  EXPECT_TRUE(s.view.closed);
  s.view.selected = 1;
  s.window.btConnect_Click();
  EXPECT_EQ(s.deviceAddress, "");
  Selection c;
  c.window.Command1_Click();
  EXPECT_TRUE(c.view.closed);
  EXPECT_EQ(c.deviceAddress, "COM1");
  c.window.Form_Unload();  // a closed window hears no more
  EXPECT_FALSE(c.discovery.OnDiscoveryComplete);
  EXPECT_FALSE(c.discovery.OnDiscoveryStarted);
}

}  // namespace
}  // namespace tarvik
