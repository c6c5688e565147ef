// The bench's receiving application: a window whose edit box takes the focus
// and logs every key message it gets, one line each, to the file named on
// the command line:
//   receiver.exe [--edit | --richedit] [--drop-every N] [--fill N] LOGFILE [TITLE]
//   <KD|KU|SKD|SKU|CH|SCH|DCH> vk=<hex> sc=<hex> ext=<0|1> ch=<hex> t=<ms> at=<ms> us=<us>
// and MENU (same fields, all 0) when a key asked for the window's menu.
// The box is an edit control (--edit, the default) or a rich edit control
// (--richedit, msftedit's RICHEDIT50W). --drop-every N makes it a target that
// loses keys at full speed: of the character keys that come less than
// kFastGapMs after the one before (by the input's own time), every Nth is
// dropped, logged as XCH instead of CH; keys paced further apart all arrive.
// --fill N starts the box with N characters, the caret after them: a field
// that already holds text costs every read of it that much more.
// t is the input's own time (GetMessageTime), at the tick count when this
// window handled it, us the performance counter then in microseconds: Wine
// reads that counter from the host's monotonic clock, so a bench on the Linux
// side can set it against its own send times.
// It stays up until closed.
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>

#include "core/win/unique_any.h"

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
WNDPROC g_editProc = nullptr;

constexpr LONG kFastGapMs = 3;
unsigned long g_dropEvery = 0;  // 0: nothing is dropped
unsigned long g_fastKeys = 0;
LONG g_keyTime = 0;             // the input time of the last key down
std::optional<LONG> g_charKeyTime;  // that of the last key that made a character

// One log line, its times taken now; written by Write.
struct Entry {
  char text[200];
  int size = 0;
};

Entry Format(const char* kind, WPARAM wp, LPARAM lp, bool isChar) {
  Entry e;
  LARGE_INTEGER now, perSecond;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&perSecond);
  const unsigned long long us =
      static_cast<unsigned long long>(now.QuadPart / perSecond.QuadPart) * 1000000ULL +
      static_cast<unsigned long long>(now.QuadPart % perSecond.QuadPart) * 1000000ULL /
          static_cast<unsigned long long>(perSecond.QuadPart);
  const unsigned scan = (static_cast<unsigned>(lp) >> 16) & 0xFF;
  const unsigned ext = (static_cast<unsigned>(lp) >> 24) & 1;
  e.size = std::snprintf(e.text, sizeof e.text,
                         "%s vk=%02X sc=%02X ext=%u ch=%04X t=%lu at=%lu us=%llu\n", kind,
                         isChar ? 0u : static_cast<unsigned>(wp), scan, ext,
                         isChar ? static_cast<unsigned>(wp) : 0u,
                         static_cast<unsigned long>(GetMessageTime()),
                         static_cast<unsigned long>(GetTickCount()), us);
  return e;
}

void Write(const Entry& e) {
  DWORD written = 0;
  WriteFile(g_log, e.text, static_cast<DWORD>(e.size), &written, nullptr);
}

void Log(const char* kind, WPARAM wp, LPARAM lp, bool isChar) {
  Write(Format(kind, wp, lp, isChar));
}

// Whether the character of the key just pressed is lost, as a slow
// application loses keys that come faster than it reads them.
bool DropsThisCharacter() {
  const std::optional<LONG> before = std::exchange(g_charKeyTime, g_keyTime);
  if (g_dropEvery == 0 || !before || g_keyTime - *before >= kFastGapMs) return false;
  return ++g_fastKeys % g_dropEvery == 0;
}

LRESULT CALLBACK EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      g_keyTime = GetMessageTime();
      Log("KD", wp, lp, false);
      break;
    case WM_KEYUP: Log("KU", wp, lp, false); break;
    case WM_SYSKEYDOWN: Log("SKD", wp, lp, false); break;
    case WM_SYSKEYUP: Log("SKU", wp, lp, false); break;
    case WM_CHAR: {
      if (DropsThisCharacter()) {
        Log("XCH", wp, lp, true);
        return 0;
      }
      // The edit box only invalidates the text it took; painting it here,
      // before the line is written, means a screenshot taken once a bench has
      // read the line shows the character.
      const Entry e = Format("CH", wp, lp, true);
      const LRESULT r = CallWindowProcW(g_editProc, h, msg, wp, lp);
      UpdateWindow(h);
      Write(e);
      return r;
    }
    case WM_SYSCHAR: Log("SCH", wp, lp, true); return 0;
    case WM_DEADCHAR: Log("DCH", wp, lp, true); break;
    default: break;
  }
  return CallWindowProcW(g_editProc, h, msg, wp, lp);
}

HWND g_edit = nullptr;

LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE: MoveWindow(g_edit, 0, 0, LOWORD(lp), HIWORD(lp), TRUE); return 0;
    case WM_SETFOCUS: SetFocus(g_edit); return 0;
    case WM_ACTIVATE: if (LOWORD(wp) != WA_INACTIVE) SetFocus(g_edit); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_SYSCOMMAND:
      // F10 and a lone Alt would open the (absent) menu and take every key
      // after them; a receiver must keep logging instead. It notes that the
      // menu was asked for: a wedge must never cause it.
      if ((wp & 0xFFF0) == SC_KEYMENU) {
        Log("MENU", 0, 0, false);
        return 0;
      }
      return DefWindowProcW(h, msg, wp, lp);
    default: return DefWindowProcW(h, msg, wp, lp);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* boxClass = L"EDIT";
  unsigned long fill = 0;
  int arg = 1;
  for (; arg < argc && std::wcsncmp(argv[arg], L"--", 2) == 0; ++arg) {
    const std::wstring option = argv[arg];
    if (option == L"--richedit") {
      if (!LoadLibraryW(L"msftedit.dll")) return 3;
      boxClass = L"RICHEDIT50W";
    } else if (option == L"--drop-every" && arg + 1 < argc) {
      g_dropEvery = std::wcstoul(argv[++arg], nullptr, 10);
    } else if (option == L"--fill" && arg + 1 < argc) {
      fill = std::wcstoul(argv[++arg], nullptr, 10);
    } else if (option != L"--edit") {
      arg = argc;  // unknown: the usage
    }
  }
  if (arg >= argc) {
    std::fputs("usage: receiver.exe [--edit | --richedit] [--drop-every N] [--fill N] LOGFILE [TITLE]\n", stderr);
    return 2;
  }
  g_log = CreateFileW(argv[arg], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_log == INVALID_HANDLE_VALUE) return 3;
  const wchar_t* title = arg + 1 < argc ? argv[arg + 1] : L"Tarvik Receiver";
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = inst;
  wc.lpszClassName = L"TarvikReceiver";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&wc);
  HWND main = CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 40, 40, 420, 240,
                              nullptr, nullptr, inst, nullptr);
  g_edit = CreateWindowExW(0, boxClass, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE |
                                                ES_AUTOVSCROLL | ES_WANTRETURN,
                           0, 0, 400, 200, main, nullptr, inst, nullptr);
  if (fill > 0) {
    // An edit control takes 30000 characters unless told otherwise.
    SendMessageW(g_edit, EM_LIMITTEXT, 0, 0);
    std::wstring text;
    for (unsigned long i = 0; i < fill; ++i) text += static_cast<wchar_t>(L'a' + i % 26);
    SetWindowTextW(g_edit, text.c_str());
    SendMessageW(g_edit, EM_SETSEL, fill, fill);
  }
  g_editProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(g_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
  ShowWindow(main, SW_SHOWNORMAL);
  SetForegroundWindow(main);
  SetFocus(g_edit);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  CloseHandle(g_log);
  return 0;
}
