// The bench's yardstick for typing on X: the least a program can do to turn a
// reader's lines into keys. It connects to a reader on TCP, cuts what it
// reads into lines at the line feed, drops the carriage return and the
// line's last character (as the program does with a classic reader line)
// and types the rest with XTestFakeKeyEvent on the display's keymap as it
// is at start (Xvfb's US layout): Shift around a character on the second
// level, one flush per line. No layout changes, no held modifiers, no
// refusal checks, no event loop.
//   xtest_loop HOST PORT
// It runs until the reader closes the link.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kReadBytes = 4096;
constexpr int kAscii = 128;
constexpr unsigned char kFirstPrintable = 0x20;

struct Key {
  KeyCode code = 0;
  bool shift = false;
};

// Where each printable ASCII character sits on the keymap: level 1 or 2.
std::array<Key, kAscii> ReadKeys(Display* d) {
  std::array<Key, kAscii> keys{};
  for (int ch = kFirstPrintable; ch < kAscii; ++ch) {
    const KeyCode code = XKeysymToKeycode(d, static_cast<KeySym>(ch));
    if (code == 0) continue;
    keys[ch].code = code;
    keys[ch].shift = XkbKeycodeToKeysym(d, code, 0, 0) != static_cast<KeySym>(ch);
  }
  return keys;
}

void Type(Display* d, const std::array<Key, kAscii>& keys, KeyCode shift, const std::string& line) {
  for (unsigned char ch : line) {
    if (ch >= kAscii || keys[ch].code == 0) continue;
    const Key& k = keys[ch];
    if (k.shift) XTestFakeKeyEvent(d, shift, True, CurrentTime);
    XTestFakeKeyEvent(d, k.code, True, CurrentTime);
    XTestFakeKeyEvent(d, k.code, False, CurrentTime);
    if (k.shift) XTestFakeKeyEvent(d, shift, False, CurrentTime);
  }
  XFlush(d);
}

int Connect(const char* host, const char* port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port)));
  if (inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
    std::fprintf(stderr, "xtest_loop: %s is not an IPv4 address\n", host);
    return -1;
  }
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "xtest_loop: connecting to %s:%s failed: %s\n", host, port,
                 std::strerror(errno));
    if (s >= 0) close(s);
    return -1;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: xtest_loop HOST PORT\n", stderr);
    return 2;
  }
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fputs("xtest_loop: cannot open the X display\n", stderr);
    return 3;
  }
  const auto keys = ReadKeys(d);
  const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
  const int s = Connect(argv[1], argv[2]);
  if (s < 0) {
    XCloseDisplay(d);
    return 4;
  }
  std::string line;
  char buf[kReadBytes];
  for (;;) {
    const ssize_t n = read(s, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != '\n') {
        line += buf[i];
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) line.pop_back();  // the classic line's last character is not typed
      Type(d, keys, shift, line);
      line.clear();
    }
  }
  close(s);
  XCloseDisplay(d);
  return 0;
}
