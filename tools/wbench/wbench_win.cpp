// The Wine bench's hands inside the virtual desktop. One command per run:
//   wait TITLE [MS]             wait for a top-level window, print its handle
//   focus TITLE                 make it the foreground window
//   foreground                  print the foreground window's title
//   post TITLE MSG WPARAM LPARAM  post a message (numbers in C notation)
//   minimize TITLE | restore TITLE | close TITLE
//   state TITLE                 print "visible=0|1 iconic=0|1"
//   msgbox TITLE                print the text of a message box with that caption
//   press TITLE ID              press button ID (6 Yes, 7 No, 1 OK, 2 Cancel) of it
//   select TITLE ID INDEX       pick entry INDEX of drop-down list ID, as a user would
//   click TITLE ID              click button or check box ID
//   getsel TITLE ID | getcheck TITLE ID | gettext TITLE ID   read a control
//   pixel TITLE ID              the colour drawn near the control's top-left corner: R,G,B
//   rect TITLE ID               a control's rectangle in its window's client area: L,T,W,H
//   client TITLE | winrect TITLE  the client area's size W,H | the window on the screen L,T,W,H
//   taborder TITLE              the ids of the controls Tab visits, from the first
//   resize TITLE W H            give the window a new outer size
//   keystate                    print the modifier keys held down
//   tap VK                      press and release one virtual key
//   down VK | up VK             press, or release, one virtual key
//   burst N                     N bare presses of the A key, one SendInput call each
//   reach N                     microseconds a record's reach decision takes, mean of N:
//                               asked afresh, then with the window in front kept, then
//                               each question's share of the kept one
//   iconsizes EXE               the pixel sizes of the program icon (group 1) in EXE
//   loop PORT                   the bare reader-to-keys loop: read lines from a reader on
//                               127.0.0.1:PORT, each character one SendInput call,
//                               until the reader ends the link
//   fieldread TITLE N CHARS     the cost of reading back the focused field: the window
//                               put in front, its focused control given CHARS characters,
//                               then N reads; prints "median=<us> worst=<us> chars=<n>"
// Exit code 0 on success, 1 when the window or state was not found.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "core/win/text_win.h"
#include "core/win/unique_any.h"
#include "tools/common/bench_win.h"
#include "keys/win/field_reader_win.h"
#include "keys/win/key_target_win.h"

using tarvik::bench::ForceForeground;
using tarvik::bench::WaitForWindow;
using tarvik::win::Narrow;

namespace {

unsigned long Num(const wchar_t* s) { return std::wcstoul(s, nullptr, 0); }

void PrintTitle(HWND h) {
  wchar_t title[256] = {};
  if (h) GetWindowTextW(h, title, 256);
  std::printf("%s\n", Narrow(title).c_str());
}

HWND MessageBoxWindow(const std::wstring& caption, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND d = FindWindowW(L"#32770", caption.c_str())) return d;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(50);
  }
}

void Tap(WORD vk) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
}

double Microseconds(LONGLONG ticks, unsigned long n) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1e6 * double(ticks) / double(f.QuadPart) / double(n);
}

LONGLONG Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// The system's answers, each question's time added up.
class TimedQueries : public tarvik::win::IForegroundQueries {
 public:
  LONGLONG spent[5] = {};
  template <class F>
  auto Timed(int which, F f) {
    const LONGLONG start = Now();
    auto result = f();
    spent[which] += Now() - start;
    return result;
  }
  bool InputDesktopIsOurs() override { return Timed(0, [&] { return system_.InputDesktopIsOurs(); }); }
  HWND Foreground() override { return Timed(1, [&] { return system_.Foreground(); }); }
  std::string Title(HWND w) override { return Timed(2, [&] { return system_.Title(w); }); }
  DWORD ProcessId(HWND w) override { return Timed(3, [&] { return system_.ProcessId(w); }); }
  std::optional<ProcessFacts> Facts(DWORD pid) override { return Timed(4, [&] { return system_.Facts(pid); }); }
  std::optional<bool> TakesMessages(HWND w) override { return system_.TakesMessages(w); }

 private:
  tarvik::win::Win32ForegroundQueries system_;
};

int Reach(unsigned long n) {
  const LONGLONG t0 = Now();
  for (unsigned long i = 0; i < n; ++i) {  // as every record asked before: all of it, afresh
    tarvik::win::Win32ForegroundQueries fresh;
    tarvik::win::Win32KeyTarget(fresh, 0x2000).Query();
  }
  const LONGLONG t1 = Now();
  TimedQueries timed;
  const tarvik::win::Win32KeyTarget kept(timed, 0x2000);
  for (unsigned long i = 0; i < n; ++i) kept.Query();  // the same window stays in front
  const LONGLONG t2 = Now();
  std::printf("%.0f %.0f", Microseconds(t1 - t0, n), Microseconds(t2 - t1, n));
  for (LONGLONG spent : timed.spent) std::printf(" %.0f", Microseconds(spent, n));
  std::printf("\n");
  return 0;
}

// The least a program can do between a reader's bytes and the keys: the
// baseline the program's first key is measured against. Lower-case letters
// and digits only; a line ends at CR or LF.
int BareLoop(unsigned short port) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 1;
  const BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  std::string line;
  char buf[512];
  for (;;) {
    const int n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    for (int i = 0; i < n; ++i) {
      if (buf[i] != '\r' && buf[i] != '\n') {
        line += buf[i];
        continue;
      }
      for (char c : line) Tap(static_cast<WORD>(LOBYTE(VkKeyScanW(static_cast<wchar_t>(c)))));
      line.clear();
    }
  }
  closesocket(s);
  WSACleanup();
  return 0;
}

// The field reader as the program uses it after a record's keys, timed read
// by read against a control of another process.
int FieldRead(HWND window, unsigned long n, unsigned long chars) {
  if (!ForceForeground(window, 5000) || n == 0) return 1;
  // The window's own thread gives its control the focus once it is in front.
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  for (const ULONGLONG end = GetTickCount64() + 5000;; Sleep(20)) {
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
        IsChild(window, info.hwndFocus))
      break;
    if (GetTickCount64() >= end) return std::printf("no control of the window has the focus\n"), 1;
  }
  std::wstring text;
  for (unsigned long i = 0; i < chars; ++i) text += static_cast<wchar_t>(L'0' + i % 10);
  SendMessageW(info.hwndFocus, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(info.hwndFocus, EM_SETSEL, chars, chars);
  tarvik::win::Win32FieldReader reader;
  std::vector<double> took;
  std::size_t size = 0;
  for (unsigned long i = 0; i < n; ++i) {
    const LONGLONG start = Now();
    const tarvik::FieldReading reading = reader.Read(std::chrono::milliseconds(500));
    took.push_back(Microseconds(Now() - start, 1));
    if (!reading.field) return std::printf("no field: %s\n", reading.why.c_str()), 1;
    size = reading.field->text.size();
  }
  std::sort(took.begin(), took.end());
  std::printf("median=%.0f worst=%.0f chars=%zu\n", took[took.size() / 2], took.back(), size);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring cmd = argv[1];
  const std::wstring arg = argc > 2 ? argv[2] : L"";
  if (cmd == L"wait") {
    HWND h = WaitForWindow(arg, argc > 3 ? Num(argv[3]) : 10000);
    if (!h) return 1;
    std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)));
    return 0;
  }
  if (cmd == L"foreground") {
    PrintTitle(GetForegroundWindow());
    return 0;
  }
  if (cmd == L"keystate") {
    const int keys[] = {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LWIN, VK_RWIN};
    const char* names[] = {"LShift", "RShift", "LCtrl", "RCtrl", "LAlt", "RAlt", "LWin", "RWin"};
    std::printf("held=");
    bool any = false;
    for (int i = 0; i < 8; ++i)
      if (GetAsyncKeyState(keys[i]) & 0x8000) {
        std::printf("%s%s", any ? "," : "", names[i]);
        any = true;
      }
    std::printf("\n");
    return 0;
  }
  if (cmd == L"down" || cmd == L"up") {  // hold or let go of a key, as a user would
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = static_cast<WORD>(Num(arg.c_str()));
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(in.ki.wVk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = cmd == L"up" ? KEYEVENTF_KEYUP : 0;
    return SendInput(1, &in, sizeof(INPUT)) == 1 ? 0 : 1;
  }
  if (cmd == L"burst") {  // the baseline: N bare "a" key presses, one SendInput each
    const unsigned long n = Num(arg.c_str());
    for (unsigned long i = 0; i < n; ++i) Tap('A');
    return 0;
  }
  if (cmd == L"reach") return Reach(Num(arg.c_str()));
  if (cmd == L"loop") return BareLoop(static_cast<unsigned short>(Num(arg.c_str())));
  if (cmd == L"tap") {  // a bare key press, as a user's finger would make it
    Tap(static_cast<WORD>(Num(arg.c_str())));
    return 0;
  }
  if (cmd == L"iconsizes") {
    HMODULE exe = LoadLibraryExW(arg.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!exe) return 1;
    HRSRC group = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    const auto* dir = group ? static_cast<const BYTE*>(LockResource(LoadResource(exe, group))) : nullptr;
    if (!dir) return 1;
    // GRPICONDIR: reserved, type, count (16 bits each), then 14-byte entries
    // that open with width and height (0 meaning 256).
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    for (WORD i = 0; i < count; ++i) {
      const BYTE width = dir[6 + 14 * i];
      std::printf("%d ", width ? width : 256);
    }
    std::printf("\n");
    return 0;
  }
  if (cmd == L"msgbox" || cmd == L"press") {
    HWND d = MessageBoxWindow(arg, 10000);
    if (!d) return 1;
    if (cmd == L"msgbox") {
      wchar_t text[1024] = {};
      GetDlgItemTextW(d, 0xFFFF, text, 1024);
      std::printf("%s\n", Narrow(text).c_str());
      return 0;
    }
    const int id = argc > 3 ? static_cast<int>(Num(argv[3])) : IDOK;
    return PostMessageW(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(d, id)))
               ? 0
               : 1;
  }
  HWND h = WaitForWindow(arg, 10000);
  if (!h) return 1;
  if (cmd == L"fieldread" && argc > 4) return FieldRead(h, Num(argv[3]), Num(argv[4]));
  if (cmd == L"focus") return ForceForeground(h, 5000) ? 0 : 1;
  if (cmd == L"minimize") return ShowWindow(h, SW_MINIMIZE), 0;
  if (cmd == L"restore") return ShowWindow(h, SW_RESTORE), 0;
  if (cmd == L"close") return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
  if (cmd == L"state") {
    std::printf("visible=%d iconic=%d\n", IsWindowVisible(h) ? 1 : 0, IsIconic(h) ? 1 : 0);
    return 0;
  }
  if (cmd == L"client" || cmd == L"winrect") {
    RECT r{};
    if (cmd == L"client") GetClientRect(h, &r); else GetWindowRect(h, &r);
    if (cmd == L"client") std::printf("%ld,%ld\n", r.right - r.left, r.bottom - r.top);
    else std::printf("%ld,%ld,%ld,%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (cmd == L"taborder") {
    HWND first = GetNextDlgTabItem(h, nullptr, FALSE);
    HWND c = first;
    do {
      std::printf("%d ", GetDlgCtrlID(c));
      c = GetNextDlgTabItem(h, c, FALSE);
    } while (c && c != first);
    std::printf("\n");
    return 0;
  }
  if (cmd == L"resize" && argc > 4) {
    return SetWindowPos(h, nullptr, 0, 0, static_cast<int>(Num(argv[3])), static_cast<int>(Num(argv[4])),
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
  }
  if (argc > 3 && (cmd == L"select" || cmd == L"click" || cmd == L"getsel" || cmd == L"getcheck" ||
                   cmd == L"gettext" || cmd == L"pixel" || cmd == L"rect")) {
    const int id = static_cast<int>(Num(argv[3]));
    HWND c = GetDlgItem(h, id);
    if (!c) return 1;
    if (cmd == L"select" && argc > 4) {
      // CB_SETCURSEL alone notifies nobody; a user's pick also tells the parent.
      SendMessageW(c, CB_SETCURSEL, Num(argv[4]), 0);
      SendMessageW(h, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
      return 0;
    }
    if (cmd == L"click") return SendMessageW(c, BM_CLICK, 0, 0), 0;
    if (cmd == L"rect") {
      RECT r{};
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&r), 2);
      std::printf("%ld,%ld,%ld,%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      return 0;
    }
    if (cmd == L"pixel") {
      // Read from the screen, where the control has painted itself.
      POINT at{3, 3};
      ClientToScreen(c, &at);
      HDC screen = GetDC(nullptr);
      const COLORREF colour = GetPixel(screen, at.x, at.y);
      ReleaseDC(nullptr, screen);
      if (colour == CLR_INVALID) return 1;
      std::printf("%u,%u,%u\n", GetRValue(colour), GetGValue(colour), GetBValue(colour));
      return 0;
    }
    if (cmd == L"getsel") return std::printf("%d\n", static_cast<int>(SendMessageW(c, CB_GETCURSEL, 0, 0))), 0;
    if (cmd == L"getcheck") return std::printf("%d\n", static_cast<int>(SendMessageW(c, BM_GETCHECK, 0, 0))), 0;
    PrintTitle(c);
    return 0;
  }
  if (cmd == L"post" && argc > 5)
    return PostMessageW(h, static_cast<UINT>(Num(argv[3])), Num(argv[4]), static_cast<LPARAM>(Num(argv[5]))) ? 0 : 1;
  return 2;
}
