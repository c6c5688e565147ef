// The bench's receiving application on X11: a plain Xlib window that logs
// every key event it gets, one line each, to the file named on the command
// line, written out each time no event waits:
//   <KP|KR> kc=<keycode> ks=<keysym name> txt=<UTF-8 bytes in hex> state=<hex> t=<server ms>
// txt is what the input context (or, without one, XLookupString) makes of a
// press; releases carry none. FI and FO (same fields, empty) mark the focus
// coming and going, MAPPED the window's first mapping.
// The window shows the text typed so far (Return starts a line, BackSpace
// takes a character back), drawn before the keys' lines are written: once a
// bench reads a line, a screenshot shows its character.
// It stays up until its window is closed or the process is ended.
//   receiver LOGFILE [TITLE] [--same-time-repeat]
// --same-time-repeat: a press of a key that comes straight after a release
// of the same key with the same server time is taken for auto-repeat and
// dropped, as LibreOffice's own X11 backend does; it is logged as
//   AR kc=<keycode> t=<server ms>
// and shows nothing.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kWidth = 400, kHeight = 200;
constexpr int kTextBytes = 64;
constexpr unsigned long kBackground = 0xF0F0F0;
constexpr int kMargin = 8;

std::FILE* g_log = nullptr;

// What the window shows, one string a line, in Latin-1 for the core fonts
// (a character beyond it shows as '?').
struct Screen {
  Display* dpy = nullptr;
  Window window = 0;
  GC gc = nullptr;
  XFontStruct* font = nullptr;
  std::vector<std::string> lines{std::string()};
};
Screen g_screen;

void Draw() {
  Screen& s = g_screen;
  XClearWindow(s.dpy, s.window);
  const int step = s.font ? s.font->ascent + s.font->descent : 14;
  const int ascent = s.font ? s.font->ascent : 11;
  XWindowAttributes attrs{};
  XGetWindowAttributes(s.dpy, s.window, &attrs);
  // The last lines that fit, the newest at the bottom of the text.
  const auto fit = static_cast<std::size_t>(std::max(1, (attrs.height - 2 * kMargin) / step));
  const std::size_t first = s.lines.size() > fit ? s.lines.size() - fit : 0;
  for (std::size_t i = first; i < s.lines.size(); ++i) {
    XDrawString(s.dpy, s.window, s.gc, kMargin,
                kMargin + ascent + static_cast<int>(i - first) * step, s.lines[i].data(),
                static_cast<int>(s.lines[i].size()));
  }
  // A round trip: the text is on the server's screen before its keys are logged.
  XSync(s.dpy, False);
}

// Keys shown since the window was last drawn, their log lines not written yet.
bool g_dirty = false;

// Once no event waits: the text drawn, then its keys' lines written. Drawing
// and logging at each key would cost two round trips a key, and the receiver,
// not the typing, would set the pace of a burst.
void Settle() {
  if (g_dirty) Draw();
  g_dirty = false;
  std::fflush(g_log);
}

void Show(const char* utf8, int n) {
  if (n <= 0) return;
  for (int i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::string& line = g_screen.lines.back();
    if (b == '\r' || b == '\n') {
      g_screen.lines.emplace_back();
    } else if (b == '\b') {
      if (!line.empty()) line.pop_back();
    } else if (b == '\t') {
      line += ' ';
    } else if (b < 0x80) {
      if (b >= 0x20 && b != 0x7F) line += static_cast<char>(b);
    } else if ((b & 0xE0) == 0xC0 && i + 1 < n) {
      const unsigned code = (b & 0x1Fu) << 6 | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
      line += code <= 0xFF ? static_cast<char>(code) : '?';
    } else if ((b & 0xC0) != 0x80) {
      line += '?';  // the lead byte of a character beyond Latin-1; its other bytes add nothing
    }
  }
  g_dirty = true;
}

std::string Hex(const char* bytes, int n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

void Line(const char* kind, unsigned keycode, const char* keysym, const std::string& text,
          unsigned state, unsigned long time) {
  std::fprintf(g_log, "%s kc=%u ks=%s txt=%s state=%x t=%lu\n", kind, keycode, keysym, text.c_str(),
               state, time);
}

void LogKey(XKeyEvent& e, XIC ic) {
  char text[kTextBytes] = {};
  KeySym keysym = NoSymbol;
  int n = 0;
  if (e.type == KeyPress && ic) {
    Status status = 0;
    n = Xutf8LookupString(ic, &e, text, sizeof text - 1, &keysym, &status);
    if (status != XLookupChars && status != XLookupBoth) n = 0;
    if (status != XLookupKeySym && status != XLookupBoth) keysym = XLookupKeysym(&e, 0);
  } else {
    n = XLookupString(&e, text, sizeof text - 1, &keysym, nullptr);
    if (e.type == KeyRelease) n = 0;
  }
  const char* name = keysym != NoSymbol ? XKeysymToString(keysym) : nullptr;
  if (e.type == KeyPress) Show(text, n);
  Line(e.type == KeyPress ? "KP" : "KR", e.keycode, name ? name : "NoSymbol",
       Hex(text, n > 0 ? n : 0), e.state, e.time);
}

// The key event before this one, for --same-time-repeat.
struct LastKey {
  int type = 0;
  unsigned keycode = 0;
  Time time = 0;
};

// A release and a press of one key with one server time: the auto-repeat
// of a key held down, to a client that tells repeat this way.
bool RepeatOf(const LastKey& last, const XKeyEvent& e) {
  return e.type == KeyPress && last.type == KeyRelease && last.keycode == e.keycode &&
         last.time == e.time;
}

}  // namespace

int main(int argc, char** argv) {
  bool sameTimeRepeat = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--same-time-repeat") == 0) {
      sameTimeRepeat = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  if (argc < 2) {
    std::fputs("usage: receiver LOGFILE [TITLE] [--same-time-repeat]\n", stderr);
    return 2;
  }
  g_log = std::fopen(argv[1], "w");
  if (!g_log) {
    std::perror(argv[1]);
    return 3;
  }
  // Written only when the window has been drawn (Settle), not when a small
  // buffer happens to fill.
  static char logBuffer[1 << 20];
  std::setvbuf(g_log, logBuffer, _IOFBF, sizeof logBuffer);
  const char* title = argc > 2 ? argv[2] : "Tarvik Receiver";
  // Text in UTF-8 whatever the bench's locale; no input method but X's own.
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
  XSetLocaleModifiers("@im=none");
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fputs("receiver: cannot open the X display\n", stderr);
    return 4;
  }
  const int screen = DefaultScreen(dpy);
  const Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, kWidth, kHeight, 0,
                                       BlackPixel(dpy, screen), kBackground);
  XStoreName(dpy, w, title);
  const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title),
                  static_cast<int>(std::strlen(title)));
  // As toolkits do: the process behind the window, for rules by program.
  const long pid = static_cast<long>(getpid());
  XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XClassHint cls{const_cast<char*>("receiver"), const_cast<char*>("TarvikReceiver")};
  XSetClassHint(dpy, w, &cls);
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = True;
  XSetWMHints(dpy, w, &hints);
  Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(dpy, w, &deleteWindow, 1);

  XIM im = XOpenIM(dpy, nullptr, nullptr, nullptr);
  XIC ic = im ? XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, w,
                          XNFocusWindow, w, nullptr)
              : nullptr;
  long imEvents = 0;
  if (ic) XGetICValues(ic, XNFilterEvents, &imEvents, nullptr);
  XSelectInput(dpy, w,
               KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask |
                   ExposureMask | imEvents);
  // A 20-pixel scalable font where the server has one, else its built-in "fixed".
  for (const char* name : {"-*-*-medium-r-normal--20-*-*-*-m-*-iso8859-1",
                           "-*-*-medium-r-normal--20-*-*-*-*-*-iso8859-1", "fixed"}) {
    if ((g_screen.font = XLoadQueryFont(dpy, name))) break;
  }
  XGCValues gcv{};
  gcv.foreground = BlackPixel(dpy, screen);
  g_screen.gc = XCreateGC(dpy, w, GCForeground, &gcv);
  if (g_screen.font) XSetFont(dpy, g_screen.gc, g_screen.font->fid);
  g_screen.dpy = dpy;
  g_screen.window = w;
  XMapWindow(dpy, w);

  bool mapped = false;
  LastKey last;
  for (;;) {
    XEvent e;
    if (!XPending(dpy)) Settle();
    XNextEvent(dpy, &e);
    // The input context sees every event first; every key is logged all the
    // same, also one it keeps for itself.
    XFilterEvent(&e, None);
    switch (e.type) {
      case KeyPress:
      case KeyRelease:
        if (sameTimeRepeat && RepeatOf(last, e.xkey)) {
          std::fprintf(g_log, "AR kc=%u t=%lu\n", e.xkey.keycode, e.xkey.time);
        } else {
          LogKey(e.xkey, ic);
        }
        last = {e.type, e.xkey.keycode, e.xkey.time};
        break;
      case FocusIn:
        if (ic) XSetICFocus(ic);
        Line("FI", 0, "-", "", 0, 0);
        break;
      case FocusOut:
        if (ic) XUnsetICFocus(ic);
        Line("FO", 0, "-", "", 0, 0);
        break;
      case Expose:
        if (e.xexpose.count == 0) Draw();
        break;
      case MapNotify:
        if (!mapped) Line("MAPPED", 0, "-", "", 0, 0);
        mapped = true;
        break;
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow) {
          Settle();
          std::fclose(g_log);
          XCloseDisplay(dpy);
          return 0;
        }
        break;
      default: break;
    }
  }
}
