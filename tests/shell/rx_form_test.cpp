#include "shell/rx_form.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "link/device_selection.h"
#include "fakes/fake_settings.h"
#include "fakes/fake_wedge.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;

using Log = std::vector<std::string>;

struct LoggedLibrary : FakeLibrary {
  LoggedLibrary(Log& l, const FakeClient& c) : log(l), client(c) {}
  std::int32_t Open() override { return log.push_back("library open"), 0; }
  // Says whether the link was still open when the library went.
  std::int32_t Close() override {
    return log.push_back(client.state ? "library close, link up" : "library close"), 0;
  }
  Log& log;
  const FakeClient& client;
};

struct LoggedTimer : FakeTimer {
  LoggedTimer(Log& l, std::string n) : log(l), name(std::move(n)) {}
  void SetEnabled(bool e) override { FakeTimer::SetEnabled(e), log.push_back(name + (e ? " on" : " off")); }
  Log& log;
  std::string name;
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
  void Opened() override { ++opened; }
  WindowState state = WindowState::Normal;
  bool visible = true;
  int icons = 0, adds = 0, refuseAdds = 0, opened = 0;
  double twipsPerPixel = 15;
  std::function<void()> onResize;
};

struct Program {
  Program() {
    shell.onResize = [this] { form.Form_Resize(); };
    controls.onChange = [this](Ctl c) { form.OnControlChanged(c); };
    store.onWrite = [this] { log.push_back("save"); };
    discovery.radio = nullptr;
  }
  Log log;
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  FakeField fields;
  RecordingKeys keys{clock, &fields};
  FakeSound sound{pump, clock};
  FakeDecoder codePage;
  LoggedTimer timer1{log, "Timer1"}, timer3{log, "Timer3"};
  FakeClient client{clock};
  LoggedLibrary library{log, client};
  FakeDiscovery discovery;
  FakeStore store;
  FakeDialogs dialogs;
  FakeShell shell;
  FakeTimer trayRetry;
  FakeTarget target;
  FakeNotice notice;
  RecordingLog diag;
  FakeWatchedFile rulesFile;
  FakeTimer rulesCheck;
  int ended = 0;
  RxForm form{{controls, pump, clock, keys, sound, codePage, timer3, library, client, discovery, store,
               [](std::string_view name) { return "C:\\WINDOWS\\" + std::string(name); }, dialogs, shell, timer1,
               [this] { ++ended; }, [this] { log.push_back("selection window"); },
               [this] { log.push_back("tray record"); },
               trayRetry, target, notice, diag, rulesFile, rulesCheck, fields}};
};

// A tray on its own shell, run through a table's steps; `more` takes any
// other step first.
template <class Shell>
struct TrayBench {
  TrayBench() { shell.onResize = [this] { tray.Form_Resize(); }; }
  void Run(const char* text, const std::function<bool(const std::string&)>& more = {}) {
    std::istringstream steps(text);
    for (std::string s; steps >> s;) {
      if (more && more(s)) continue;
      if (s == "m" || s == "n") shell.SetState(s == "m" ? WindowState::Minimized : WindowState::Normal);
      else if (s == "r") tray.Retry_Timer();
      else if (s == "t") tray.TaskbarCreated();
      else if (s == "b") tray.BringBack();
      else if (s == "x") ++shell.refuseAdds;
      else if (s == "0") shell.icons = 0;
      else if (s == "@12") shell.twipsPerPixel = 12;
      else tray.Form_MouseMove(std::stoi(s) * shell.twipsPerPixel);
    }
  }
  Shell shell;
  FakeTimer retry;
  Tray tray{shell, retry};
};

// Steps: m minimize, n restore, r the retry tick, t the shell restarted, b a
// second start, x the shell refuses the next icon, 0 the shell lost its icons,
// @12 12 twips a pixel; a number is the tray's event code where x would be.
TEST(Tray, TheWindowGoesToTheTrayOnlyWithItsIconAndComesBackOnAClick) {
  struct Case {
    std::vector<const char*> steps;  // each run on its own
    bool visible, minimized;
    int icons, adds;
    bool retrying, inTray;
  };
  const Case cases[] = {
      {{"m 512 513 516 518 519 520"}, false, true, 1, 1, false, true},  // moves and other buttons
      // Left button up, double click, right button up, at another pixel size; a
      // second start; restored from the taskbar, which stops the retries.
      {{"m 514", "m 515", "m 517", "@12 m 514", "m b", "x m b", "x m n r"}, true, false, 0, 1, false, false},
      {{"t"}, true, false, 0, 0, false, false},  // shown: no icon to add
      {{"m 0 t"}, false, true, 1, 2, false, true},
      {{"m 0 x t"}, true, true, 0, 2, true, false},  // the new shell refuses: onto the taskbar, retried
      {{"x x m"}, true, true, 0, 1, true, false},  // never hidden without an icon
      {{"x x m r"}, true, true, 0, 2, true, false},
      {{"x x m r r"}, false, true, 1, 3, false, true},
      {{"x m t"}, false, true, 1, 2, false, true},  // a shell that comes up between retries is used at once
  };
  for (const auto& c : cases) {
    for (const char* steps : c.steps) {
      TrayBench<FakeShell> b;
      b.Run(steps);
      EXPECT_EQ(b.shell.visible, c.visible) << steps;
      EXPECT_EQ(b.shell.state == WindowState::Minimized, c.minimized) << steps;
      EXPECT_EQ(std::pair(b.shell.icons, b.shell.adds), std::pair(c.icons, c.adds)) << steps;
      EXPECT_EQ(b.retry.enabled, c.retrying) << steps;
      EXPECT_EQ(b.tray.InTray(), c.inTray) << steps;
    }
  }
}

// A shell as the platforms' are: its notices keep a warning on the icon, and
// the view records what the icon (or the taskbar button) was told to show.
class MarkingShell : public FakeShell, public INotice, public ITrayMarkView {
 public:
  bool TrayAdd() override {
    if (!FakeShell::TrayAdd()) return false;
    shown.push_back("icon");
    mark.IconAdded();
    return true;
  }
  void Opened() override { FakeShell::Opened(), mark.Opened(); }
  void Warn(const std::string& text) override { mark.Warned(text, icons > 0); }
  void Typed() override { mark.Typed(); }
  void ShowWarning(const std::string& tip) override { shown.push_back("warning " + tip); }
  void ShowNormal() override { shown.push_back("normal"); }
  void Flash() override { shown.push_back("flash"); }
  WarningMark mark{*this};
  std::vector<std::string> shown;
};

// Steps as above, and: w a warning ("W1", "W2", ...), y a scan typed.
TEST(Tray, AWarningStaysOnTheIconUntilTheWindowIsOpenedOrAScanIsTyped) {
  struct Case {
    std::vector<const char*> steps;  // each run on its own
    std::vector<std::string> shown;
    bool standing;
  };
  const Case cases[] = {
      {{"m w"}, {"icon", "warning W1"}, true},
      {{"m w w"}, {"icon", "warning W1", "warning W2"}, true},  // the latest says why
      // A scan typed (once or twice), a click that opens the window, a second start.
      {{"m w y", "m w y y", "m w 514", "m w b"}, {"icon", "warning W1", "normal"}, false},
      {{"m y"}, {"icon"}, false},  // nothing to end
      {{"m w 512"}, {"icon", "warning W1"}, true},  // the pointer only passed over it
      {{"m w 514 m"}, {"icon", "warning W1", "normal", "icon"}, false},  // back to the tray: seen, normal
      {{"m w 0 t"}, {"icon", "warning W1", "icon", "warning W1"}, true},  // the shell restarted: still there
      // The shell refused the icon: the taskbar button flashes; the icon,
      // when it comes, carries the warning not seen yet.
      {{"x m w"}, {"flash"}, true},
      {{"x m w r"}, {"flash", "icon", "warning W1"}, true},
      {{"x m w n"}, {"flash", "normal"}, false},  // restored from the taskbar: seen
      {{"x m w n m"}, {"flash", "normal", "icon"}, false},
  };
  for (const auto& c : cases) {
    for (const char* steps : c.steps) {
      TrayBench<MarkingShell> b;
      int warnings = 0;
      b.Run(steps, [&](const std::string& s) {
        if (s == "w") b.shell.Warn("W" + std::to_string(++warnings));
        else if (s == "y") b.shell.Typed();
        else return false;
        return true;
      });
      EXPECT_EQ(b.shell.shown, c.shown) << steps;
      EXPECT_EQ(b.shell.mark.Tip().has_value(), c.standing) << steps;
    }
  }
}

TEST(WarningMark, TheTipIsTheNoticeCutToWhatTheShellShows) {
  const std::string ellipsis = "\xE2\x80\xA6";
  const std::string euro = "\xE2\x82\xAC";        // one unit, three bytes
  const std::string clef = "\xF0\x9D\x84\x9E";    // two units (a surrogate pair), four bytes
  struct Case {
    const char* name;
    std::string text, tip;
  };
  const Case cases[] = {
      {"short", "A scan was not typed.", "A scan was not typed."},
      {"exactly 127", std::string(127, 'a'), std::string(127, 'a')},
      {"128", std::string(128, 'a'), std::string(126, 'a') + ellipsis},
      {"multi-byte characters count once", std::string(120, 'a') + euro + std::string(6, 'b'),
       std::string(120, 'a') + euro + std::string(6, 'b')},
      {"cut after a multi-byte character", std::string(125, 'a') + euro + "bc",
       std::string(125, 'a') + euro + ellipsis},
      {"a pair counts twice", std::string(125, 'a') + clef, std::string(125, 'a') + clef},
      {"a pair is not split", std::string(125, 'a') + clef + "b", std::string(125, 'a') + ellipsis},
  };
  for (const auto& c : cases) EXPECT_EQ(WarningMark::TipOf(c.text), c.tip) << c.name;
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

TEST(RxForm, UnloadClosesTheLinkBeforeTheLibraryAndSelectDeviceSavesAfterTheWindow) {
  const std::pair<void (RxForm::*)(), Log> cases[] = {
      {&RxForm::Form_Unload, {"library close"}},
      {&RxForm::Command6_Click, {"Timer3 off", "selection window", "save"}}};
  for (const auto& [action, log] : cases) {
    Program p;
    p.form.Form_Load();
    p.client.state = 2;
    p.log.clear();
    (p.form.*action)();
    EXPECT_EQ(p.log, log);
    EXPECT_EQ(p.client.disconnects, 1);
  }
}

// The load in its order; the start-up tick goes to the tray and connects once.
// The log never holds a record's characters: barcodes can carry personal data.
TEST(RxForm, TheLoadAndTheStartUpTickThenALogThatNeverTellsWhatWasScanned) {
  Program p;
  p.store.content = "1\r\n1\r\n\"COM7\"\r\n0,3\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n";
  p.form.Form_Load();
  EXPECT_EQ(p.log,
            (std::vector<std::string>{"Timer3 off", "library open", "tray record", "save", "Timer1 on"}));
  EXPECT_EQ(p.controls.Caption(Ctl::Label25), "COM7");
  EXPECT_EQ(p.controls.ListIndex(Ctl::Combo1), 3);
  EXPECT_EQ(p.client.connects, 0);  // nothing connects before the start-up tick
  p.client.state = 0, p.log.clear();
  p.form.Timer1_Timer();
  EXPECT_EQ(p.log.front(), "Timer1 off");
  EXPECT_TRUE(p.form.InTray() && !p.shell.visible);
  EXPECT_EQ(p.client.connects, 1);
  EXPECT_EQ(p.client.Parameters.address, "(COM7)");
  p.controls.typesRecords = true;  // as the shell's minimize left it
  p.client.state = 2;
  p.client.OnConnect(0);
  p.client.OnData(Bytes("SECRET123\r\nPII-4711\r\n"));
  p.target.target.inputDesktopIsOurs = false;
  p.client.OnData(Bytes("LOCKED9\r\n"));
  p.form.Form_MouseMove(0x202 * 15.0), p.controls.typesRecords = false;  // back from the tray
  p.client.OnData(Bytes("SHOWN77\r\n"));
  p.client.dropReason = wcl::kClosedByPeer, p.client.state = 0;
  p.client.OnDisconnect();
  p.store.failWrites = true;
  p.controls.SetListIndex(Ctl::Combo1, 2);
  EXPECT_EQ(p.diag.events, (std::vector<std::string>{"Settings: C:\\WINDOWS\\pelrin.ini",
                "Rules: no C:\\WINDOWS\\tarvik.ini: scans are typed without rules", "Link to COM7 open",
                "Record of 9 characters: typed; delivered (2 reads in 0.00 ms; 0.00 ms after the last key)", "Record of 8 characters: typed; delivered (2 reads in 0.00 ms; 0.00 ms after the last key)",
                "Record of 7 characters: not typed: locked or secure desktop",
                "Record of 7 characters: shown only (the window is not in the tray)",
                "Link to COM7 dropped: -8 (the reader closed the link)",
                "The settings could not be saved: Access is denied. (error 5)"}));
  for (const char* scanned : {"SECRET", "PII", "4711", "LOCKED", "SHOWN"})
    EXPECT_EQ(p.diag.Text().find(scanned), std::string::npos) << scanned;
}

struct FakeView : ISelectionView {
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

struct Selection {
  FakeView view;
  FakeClock clock;
  FakePump pump{clock};
  FakeDialogs dialogs;
  FakeLibrary library;
  FakeDiscovery discovery;
  std::string deviceAddress = "COM1";
  FakeControls main;
  DeviceSelection window{{view, pump, dialogs, library, discovery, deviceAddress, main}};
  Selection() { window.Form_Load(); }
};

// Select and Cancel as the user meets them are the selection windows' own
// tests (tests/linux, tests/win).
TEST(DeviceSelection, RowsForEveryOutcomeSelectDropsTheAddressBracketsAndAClosedWindowHearsNoMore) {
  Selection s;
  s.window.btDiscover_Click();
  EXPECT_EQ(s.view.status, "Discovering... Wait please...");
  EXPECT_EQ(std::pair(s.discovery.lastTimeout, s.discovery.lastFlags), std::pair(15, 0u));
  s.view.rows = {{"(old)", "row"}};
  s.discovery.OnDiscoveryStarted(s.discovery.radio);
  EXPECT_TRUE(s.view.rows.empty());
  DeviceList found = {std::make_shared<FakeDevice>("(00:1A:7D:DA:71:13)", "Scanner", 0),
                      std::make_shared<FakeDevice>("(00:11:22:33:44:55)", "", 5),
                      std::make_shared<FakeDevice>("(AA)", "", -7)};
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
  s.view.rows = {{"()", ""}};  // the row's first and last character go
  s.view.selected = 0;
  s.window.btConnect_Click();
  EXPECT_EQ(s.deviceAddress, "");
  EXPECT_TRUE(s.view.closed);
  s.window.Form_Unload();
  EXPECT_FALSE(s.discovery.OnDiscoveryComplete);
  EXPECT_FALSE(s.discovery.OnDiscoveryStarted);
}

}  // namespace
}  // namespace tarvik
