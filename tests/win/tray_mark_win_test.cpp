// The Windows shell's warning that stays on the tray icon, and the reach
// decision's memory of the window in front.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/win/text_win.h"
#include "shell/win/rx_window_win.h"
#include "shell/win/shell_win.h"
#include "keys/win/key_target_win.h"

namespace tarvik::win {
namespace {

// What the shell was last asked to show on the icon, through the newer record.
struct IconCalls {
  std::vector<std::pair<HICON, std::wstring>> modified;  // image and tip, NIF_ICON changes only
  int balloons = 0;
  bool refuse = false;
  NotifyIconWFn Fn() {
    return [this](DWORD message, NOTIFYICONDATAW* r) -> BOOL {
      if (message != NIM_MODIFY || refuse) return FALSE;
      if (r->uFlags & NIF_INFO) ++balloons;
      if (r->uFlags & NIF_ICON) modified.emplace_back(r->hIcon, r->szTip);
      return TRUE;
    };
  }
};

// Steps: a the icon added, w a warning, y a scan typed, o the window opened,
// x the shell refuses changes from now on; the policy's own cases are rx_form_test's.
TEST(TrayMark, TheIconShowsTheWarningAndItsReasonUntilSeenOrTyped) {
  const std::string reason = "A scan was not typed: no window has the keyboard focus.";
  const std::wstring normalTip = L"Pelrin RF 3.0";
  const struct {
    const char* steps;
    bool warningShown;  // the last image the icon got is the warning, with the reason as its tip
    int changes, balloons;
  } cases[] = {
      {"a w", true, 1, 1},
      {"a w y", false, 2, 1},
      {"w a", true, 1, 0},     // a warning from before the icon came is carried by it
      {"w o a", false, 0, 0},  // seen on the taskbar before
      {"a x w", false, 0, 0},  // the shell took no balloon: the taskbar button flashes
  };
  auto rx = RxWindow::Create(GetModuleHandleW(nullptr));
  const HICON normal = rx->smallIcon();
  const HICON warning = SmallWarningIcon();
  ASSERT_NE(warning, nullptr) << "the system's warning image, error " << GetLastError();
  ASSERT_NE(warning, normal);
  for (const auto& c : cases) {
    IconCalls calls;
    RxShell shell(rx->hwnd(), normal, [](DWORD, NOTIFYICONDATAA*) -> BOOL { return TRUE; }, calls.Fn());
    shell.FillTrayRecord();
    for (const char* s = c.steps; *s; ++s) {
      switch (*s) {
        case 'a': shell.TrayAdd(); break;
        case 'w': shell.Warn(reason); break;
        case 'y': shell.Typed(); break;
        case 'o': shell.Opened(); break;
        case 'x': calls.refuse = true; break;
      }
    }
    EXPECT_EQ(static_cast<int>(calls.modified.size()), c.changes) << c.steps;
    EXPECT_EQ(calls.balloons, c.balloons) << c.steps;
    if (calls.modified.empty()) continue;
    const auto& [icon, tip] = calls.modified.back();
    EXPECT_EQ(icon, c.warningShown ? warning : normal) << c.steps;
    EXPECT_EQ(tip, c.warningShown ? Widen(reason) : normalTip) << c.steps;
  }
}

// A stand-in for the system: windows in front with their processes, and
// how often each question was asked.
class FakeForeground : public IForegroundQueries {
 public:
  bool InputDesktopIsOurs() override { return ++asked["desktop"], desktopOurs; }
  HWND Foreground() override { return ++asked["foreground"], front; }
  std::string Title(HWND) override { return ++asked["title"], title; }
  DWORD ProcessId(HWND w) override { return ++asked["pid"], pids[w]; }
  std::optional<ProcessFacts> Facts(DWORD pid) override {
    return ++asked["facts"], processes.count(pid) ? std::optional(processes[pid]) : std::nullopt;
  }
  std::optional<bool> TakesMessages(HWND) override { return ++asked["probe"], messages; }
  bool desktopOurs = true;
  std::optional<bool> messages;  // what posting our message to the window says
  HWND front = nullptr;
  std::string title;
  std::map<HWND, DWORD> pids;
  std::map<DWORD, ProcessFacts> processes;
  std::map<std::string, int> asked;
};

HWND Window(std::uintptr_t n) { return reinterpret_cast<HWND>(n); }

// Steps: 1 2 3 a window in front (1 and 2 of process 10, 3 of process 20),
// 0 none, p window 1 now of process 30 (its handle given again), q query,
// L locked, U unlocked, T the title changes, X process 10 cannot be opened,
// O it can again, M messages reach the window in front, B they are refused.
// Where the integrity is unknown the window is asked whether it takes our
// messages, and a definite answer is kept with the process's facts.
TEST(KeyTarget, TheProcessIsAskedAgainOnlyWhenTheWindowOrProcessInFrontChanged) {
  const struct {
    const char* steps;
    int facts;               // how often the process was opened
    const char* program;     // the last answer's program
    bool integrityKnown, locked;
    int probes = 0;  // how often a message was posted to learn it
    std::optional<bool> takes = std::nullopt;
  } cases[] = {
      {"1 q T q", 1, "a.exe", true, false},
      {"1 q L q", 1, "a.exe", true, true},  // the desktop is asked every time
      {"1 q 2 q", 2, "a.exe", true, false},  // another window of the same program
      {"1 q 3 q", 2, "admin.exe", false, false, 1},
      {"1 q 3 q 1 q", 3, "a.exe", true, false, 1},  // only the last window is kept
      {"3 q q", 1, "admin.exe", false, false, 2},  // nothing told: asked again
      {"M 3 q q", 1, "admin.exe", false, false, 1, true},
      {"B 3 q 1 q 3 q", 3, "admin.exe", false, false, 2, false},
      {"M X 1 q q", 2, "", false, false, 2, true},  // not opened: nothing kept
      {"1 q p q", 2, "c.exe", true, false},  // the same handle, another process
      {"X 1 q q", 2, "", false, false, 2},  // not opened: not kept, asked again
      {"X 1 q O q q", 2, "a.exe", true, false, 1},
      {"0 q 1 q", 1, "a.exe", true, false},
      {"1 q 0 q", 1, "", false, false},  // nobody in front: no program
  };
  for (const auto& c : cases) {
    FakeForeground sys;
    sys.pids = {{Window(1), 10}, {Window(2), 10}, {Window(3), 20}};
    const std::map<DWORD, IForegroundQueries::ProcessFacts> all = {
        {10, {"a.exe", 0x2000}}, {20, {"admin.exe", std::nullopt}}, {30, {"c.exe", 0x2000}}};
    sys.processes = all;
    Win32KeyTarget target(sys, 0x2000);
    KeyTarget last;
    int queries = 0, titles = 0;
    std::istringstream steps(c.steps);
    for (std::string s; steps >> s;) {
      if (s == "q") {
        last = target.Query(), ++queries, titles += sys.front != nullptr;
        if (sys.front) { EXPECT_EQ(last.title, sys.title) << c.steps; }
      } else if (s == "0") sys.front = nullptr;
      else if (s == "p") sys.pids[Window(1)] = 30;
      else if (s == "L") sys.desktopOurs = false;
      else if (s == "U") sys.desktopOurs = true;
      else if (s == "T") sys.title += "*";
      else if (s == "X") sys.processes.erase(10);
      else if (s == "O") sys.processes = all;
      else if (s == "M" || s == "B") sys.messages = s == "M";
      else sys.front = Window(std::stoul(s));
    }
    EXPECT_EQ(sys.asked["facts"], c.facts) << c.steps;
    EXPECT_EQ(sys.asked["desktop"], queries) << c.steps;
    EXPECT_EQ(sys.asked["foreground"], queries) << c.steps;
    EXPECT_EQ(sys.asked["title"], titles) << c.steps;
    EXPECT_EQ(last.program, c.program) << c.steps;
    EXPECT_EQ(last.targetIntegrity.has_value(), c.integrityKnown) << c.steps;
    EXPECT_EQ(!last.inputDesktopIsOurs, c.locked) << c.steps;
    EXPECT_EQ(last.hasForeground, sys.front != nullptr) << c.steps;
    EXPECT_EQ(sys.asked["probe"], c.probes) << c.steps;
    EXPECT_EQ(last.takesMessages, c.takes) << c.steps;
  }
}

}  // namespace
}  // namespace tarvik::win
