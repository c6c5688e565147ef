// Typing into a real X server: a headless Xvfb of the test's own, a plain
// Xlib window with the focus, and the keysyms its key presses carry.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon.h>
// clang-format on

#include "keys/linux/key_sender_linux.h"
#include "keys/linux/key_target_linux.h"
#include "keys/linux/xtest_keyboard_linux.h"

extern char** environ;

namespace tarvik::lnx {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLimit = std::chrono::seconds(20);
constexpr int kKeymapBytes = 32;
constexpr int kLongRecord = 2000;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

class Xvfb : public ::testing::Test {
 protected:
  void SetUp() override {
    // Xvfb picks a free display and writes its number once it listens;
    // -terminate ends it with its last client, so a dying test leaves none.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-terminate", "-screen", "0", "640x480x24",
                          "-nolisten", "tcp", nullptr};
    const int spawned = posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = Clock::now() + kLimit;
    char c = 0;
    while (spawned == 0 && poll(&p, 1, MsLeft(deadline)) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    close(fds[0]);
    if (spawned != 0) pid_ = 0;
    if (number.empty()) FAIL() << "Xvfb did not start (Debian: xvfb)";
    name_ = ":" + number;
    d_ = XOpenDisplay(name_.c_str());
    ASSERT_NE(d_, nullptr);
  }
  void TearDown() override {
    if (d_) XCloseDisplay(d_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Events until `done` says so, or the limit.
  bool Pump(const std::function<bool(XEvent&)>& done) {
    const auto deadline = Clock::now() + kLimit;
    while (MsLeft(deadline) > 0) {
      while (XPending(d_) > 0) {
        XEvent ev;
        XNextEvent(d_, &ev);
        if (done(ev)) return true;
      }
      pollfd p{ConnectionNumber(d_), POLLIN, 0};
      poll(&p, 1, MsLeft(deadline));
    }
    return false;
  }

  Window FocusedWindow() {
    Window w = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(d_, w, KeyPressMask | StructureNotifyMask);
    XMapWindow(d_, w);
    EXPECT_TRUE(Pump([](XEvent& e) { return e.type == MapNotify; }));
    XSetInputFocus(d_, w, RevertToParent, CurrentTime);
    XSync(d_, False);
    return w;
  }

  std::vector<KeySym> Mapping() {
    int min = 0, max = 0, per = 0;
    XDisplayKeycodes(d_, &min, &max);
    KeySym* syms = XGetKeyboardMapping(d_, static_cast<KeyCode>(min), max - min + 1, &per);
    std::vector<KeySym> out(syms, syms + (max - min + 1) * per);
    XFree(syms);
    return out;
  }

  int KeysDown() {
    char down[kKeymapBytes];
    XQueryKeymap(d_, down);
    return kKeymapBytes - static_cast<int>(std::count(down, down + kKeymapBytes, 0));
  }

  pid_t pid_ = 0;
  std::string name_;
  Display* d_ = nullptr;
};

TEST_F(Xvfb, TypesIntoTheFocusedWindowAndGivesTheMappingBack) {
  FocusedWindow();
  const auto before = Mapping();
  // Control down, as another program can leave it: no finger holds it, so
  // it goes up for the first key and stays up, and is let go at the end.
  auto pressControl = [&] {
    XTestFakeKeyEvent(d_, XKeysymToKeycode(d_, XK_Control_L), True, CurrentTime);
    XSync(d_, False);
  };
  pressControl();
  {
    std::string problem;
    auto keys = MakeKeySender(Session{"x11", "", name_, ""}, problem);
    ASSERT_TRUE(keys) << problem;
    keys->BeginRecord();
    // e-acute and the euro have no US key. Control goes down again half-way
    // through a long record: it must be let go again before the next key.
    std::u32string expected = U"aZ1\u00E9\u20AC";
    for (auto t : {"a", "Z", "1", "\u00E9", "\u20AC"}) ASSERT_TRUE(keys->SendKeyTokens(t)) << t;
    for (int i = 0; i < kLongRecord; ++i) {
      if (i == kLongRecord / 2) {
        ASSERT_TRUE(keys->Flush());
        pressControl();
      }
      const char c = static_cast<char>(i % 2 ? 'a' + i % 26 : 'A' + i % 26);
      expected += static_cast<char32_t>(c);
      ASSERT_TRUE(keys->SendKeyTokens(std::string(1, c))) << i;
    }
    for (auto t : {"{TAB}", "{ENTER}"}) ASSERT_TRUE(keys->SendKeyTokens(t)) << t;
    ASSERT_TRUE(keys->Flush());
    pressControl();
    keys->EndRecord();
    std::u32string typed;
    std::vector<KeySym> others;
    int chords = 0;
    EXPECT_TRUE(Pump([&](XEvent& e) {
      if (e.type != KeyPress) return false;
      if (IsModifierKey(XLookupKeysym(&e.xkey, 0))) return false;  // our Shift for the Z
      chords += (e.xkey.state & ControlMask) != 0;
      char text[8];
      KeySym sym = NoSymbol;
      XLookupString(&e.xkey, text, sizeof text, &sym, nullptr);
      if (sym == XK_Tab || sym == XK_Return) others.push_back(sym);
      else typed += xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(sym));
      return others.size() == 2;
    }));
    EXPECT_EQ(typed, expected);
    EXPECT_EQ(others, (std::vector<KeySym>{XK_Tab, XK_Return}));
    EXPECT_EQ(chords, 0);
    EXPECT_EQ(KeysDown(), 0);
  }
  EXPECT_EQ(Mapping(), before);
}

// A refusal is met only at the next round trip, after keys around it went:
// every key of ours pressed since is let go, and the keyboard types again.
TEST_F(Xvfb, ARefusalMetAfterTheKeysWentLeavesNoKeyOfOursDown) {
  std::string problem;
  auto kb = XTestKeyboard::Open(name_.c_str(), problem);
  ASSERT_TRUE(kb) << problem;
  const auto code = [&](KeySym s) { return static_cast<Keycode>(XKeysymToKeycode(d_, s)); };
  constexpr Keycode kNoSuchKey = 1;  // below every display's lowest keycode: XTest refuses it
  const XKeyAction pressed[] = {{code(XK_Shift_L), true, XKeyAction::Role::Modifier},
                                {code(XK_a), true, XKeyAction::Role::Key}};
  const XKeyAction refused[] = {{kNoSuchKey, true, XKeyAction::Role::Key},
                                {code(XK_b), true, XKeyAction::Role::Key}};
  ASSERT_TRUE(kb->Send(pressed));
  kb->Send(refused);
  EXPECT_FALSE(kb->Sync());
  EXPECT_EQ(KeysDown(), 0);
  const XKeyAction tap[] = {{code(XK_c), true, XKeyAction::Role::Key},
                            {code(XK_c), false, XKeyAction::Role::Key}};
  EXPECT_TRUE(kb->Send(tap));
  EXPECT_TRUE(kb->Sync());
}

// A keyboard held by another client (a VM viewer, a menu) is no lock: the
// keys go to the holder, at full speed: Shift held once over a run of
// capitals, a key pressed again at a later time than its release (else it
// reads as auto-repeat). Looking sends no FocusOut/FocusIn. The X screen
// saver, on, is a lock; no focused window is no focus.
TEST_F(Xvfb, AKeyboardGrabIsNoLockTheScreenSaverIsAndNoFocusIsNoFocus) {
  X11KeyTarget target(name_.c_str());
  const Window w = FocusedWindow();
  EXPECT_TRUE(target.Query().hasForeground);
  XSelectInput(d_, w, KeyPressMask | KeyReleaseMask | FocusChangeMask);
  ASSERT_EQ(XGrabKeyboard(d_, w, False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
  XSync(d_, False);
  EXPECT_TRUE(DecideReach(target.Query()).ok());
  std::string problem, typed;
  auto keys = MakeKeySender(Session{"x11", "", name_, ""}, problem);
  ASSERT_TRUE(keys) << problem;
  keys->BeginRecord();
  for (auto t : {"A", "B", "C", "1", "1", "d", "d", "E", "{ENTER}"}) ASSERT_TRUE(keys->SendKeyTokens(t)) << t;
  keys->EndRecord();
  struct Key {
    bool down;
    KeySym sym;
    Time time;
  };
  std::vector<Key> got;
  int shifts = 0;
  EXPECT_TRUE(Pump([&](XEvent& e) {
    if (e.type != KeyPress && e.type != KeyRelease) return false;
    got.push_back({e.type == KeyPress, XLookupKeysym(&e.xkey, 0), e.xkey.time});
    char c = 0;
    if (e.type == KeyPress && XLookupString(&e.xkey, &c, 1, nullptr, nullptr) == 1) typed += c;
    shifts += e.type == KeyPress && got.back().sym == XK_Shift_L;
    return got.size() == 2 * 11;  // nine keys and one Shift for each run of capitals
  })) << typed;
  for (std::size_t i = 1; i < got.size(); ++i) {
    if (got[i].down && !got[i - 1].down && got[i - 1].sym == got[i].sym) {
      EXPECT_LT(got[i - 1].time, got[i].time) << "the second " << static_cast<char>(got[i].sym);
    }
  }
  EXPECT_EQ(typed, "ABC11ddE\r") << "the keys at the window that holds the keyboard";
  EXPECT_EQ(shifts, 2);
  EXPECT_EQ(KeysDown(), 0);
  XUngrabKeyboard(d_, CurrentTime);
  XSync(d_, False);
  XEvent ev;
  while (XPending(d_) > 0) XNextEvent(d_, &ev);  // the grab's own focus events
  EXPECT_TRUE(DecideReach(target.Query()).ok());
  XSync(d_, False);
  EXPECT_EQ(XPending(d_), 0) << "the look sent the focused window focus events";
  EXPECT_EQ(target.ScreenSaver().word, LockWord::kUnlocked);
  XForceScreenSaver(d_, ScreenSaverActive);
  XSync(d_, False);
  EXPECT_EQ(target.ScreenSaver().word, LockWord::kLocked);
  XForceScreenSaver(d_, ScreenSaverReset);
  XSync(d_, False);
  EXPECT_EQ(target.ScreenSaver().word, LockWord::kUnlocked);
  XSetInputFocus(d_, None, RevertToNone, CurrentTime);
  XSync(d_, False);
  EXPECT_EQ(DecideReach(target.Query()).why, Unreachable::kNoFocus);
}

}  // namespace
}  // namespace tarvik::lnx
