#include "wedge/linux/uinput_linux.h"


#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "core/utf8.h"
#include "wedge/key_plan.h"
#include "wedge/keystroke_output.h"

namespace tarvik::lnx {
namespace {

constexpr char kDeviceName[] = "Tarvik virtual keyboard";
// Every code a keyboard's keys have; the desktop takes a device with them
// for a keyboard.
constexpr int kLastKeyboardKey = 0xFF;
constexpr char32_t kFirstPrintable = 0x20, kLastAscii = 0x7E, kDelete = 0x7F;
constexpr char32_t kC1First = 0x80, kC1Last = 0x9F;
constexpr int kFunctionKeysInARow = 10;  // F11 and F12 have codes of their own

// The US layout, row by row: each row's keys have consecutive codes.
struct Row {
  std::uint16_t first;
  std::string_view plain, shifted;
};
constexpr Row kUsRows[] = {
    {KEY_1, "1234567890-=", "!@#$%^&*()_+"},
    {KEY_Q, "qwertyuiop[]", "QWERTYUIOP{}"},
    {KEY_A, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {KEY_BACKSLASH, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
};
static_assert(KEY_EQUAL == KEY_1 + 11 && KEY_RIGHTBRACE == KEY_Q + 11 && KEY_GRAVE == KEY_A + 11 &&
              KEY_SLASH == KEY_BACKSLASH + 10);

struct UsKey {
  std::uint16_t code;
  bool shift;
};

std::optional<UsKey> UsKeyFor(char32_t ch) {
  if (ch == U' ') return UsKey{KEY_SPACE, false};
  if (ch == U'\t') return UsKey{KEY_TAB, false};
  if (ch < kFirstPrintable || ch > kLastAscii) return std::nullopt;
  const char c = static_cast<char>(ch);
  for (const Row& r : kUsRows) {
    if (auto i = r.plain.find(c); i != std::string_view::npos)
      return UsKey{static_cast<std::uint16_t>(r.first + i), false};
    if (auto i = r.shifted.find(c); i != std::string_view::npos)
      return UsKey{static_cast<std::uint16_t>(r.first + i), true};
  }
  return std::nullopt;
}

std::optional<std::uint16_t> BraceCode(std::uint8_t v) {
  if (v >= vk::kF1 && v <= vk::kF12) {
    const int n = v - vk::kF1;
    return static_cast<std::uint16_t>(n < kFunctionKeysInARow ? KEY_F1 + n
                                                              : KEY_F11 + n - kFunctionKeysInARow);
  }
  switch (v) {
    case vk::kBack: return KEY_BACKSPACE;
    case vk::kCancel: return KEY_PAUSE;  // with Ctrl: Break
    case vk::kDown: return KEY_DOWN;
    case vk::kEnd: return KEY_END;
    case vk::kReturn: return KEY_ENTER;
    case vk::kEscape: return KEY_ESC;
    case vk::kHome: return KEY_HOME;
    case vk::kLeft: return KEY_LEFT;
    case vk::kNext: return KEY_PAGEDOWN;
    case vk::kRight: return KEY_RIGHT;
    case vk::kTab: return KEY_TAB;
    case vk::kUp: return KEY_UP;
    default: return std::nullopt;
  }
}

std::vector<EvdevEvent> Around(std::uint16_t code, std::optional<std::uint16_t> modifier) {
  std::vector<EvdevEvent> out;
  if (modifier) out.push_back({*modifier, true});
  out.push_back({code, true});
  out.push_back({code, false});
  if (modifier) out.push_back({*modifier, false});
  return out;
}

bool IsLetter(char32_t ch) { return (ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z'); }

bool Write(int fd, const std::vector<EvdevEvent>& events) {
  std::vector<input_event> out;
  for (const auto& e : events) {
    input_event key{};
    key.type = EV_KEY;
    key.code = e.code;
    key.value = e.down ? 1 : 0;
    out.push_back(key);
    input_event sync{};
    sync.type = EV_SYN;
    sync.code = SYN_REPORT;
    out.push_back(sync);
  }
  const auto bytes = static_cast<ssize_t>(out.size() * sizeof(input_event));
  return write(fd, out.data(), static_cast<std::size_t>(bytes)) == bytes;
}

}  // namespace

UinputPlan PlanUinputKeys(std::string_view token, bool capsLock) {
  if (const auto brace = FindBraceKey(token)) {
    const auto code = BraceCode(brace->vk);
    if (!code) return {{}, false};
    std::optional<std::uint16_t> ctrl;
    if (brace->withCtrl) ctrl = KEY_LEFTCTRL;
    return {Around(*code, ctrl)};
  }
  // A fixed US keyboard has no way to send a character by itself.
  if (ParseUnicodeToken(token)) return {{}, false};
  const auto chars = DecodeUtf8(token);
  if (chars.empty()) return {};
  const char32_t ch = chars.front();
  const bool control = ch < kFirstPrintable || ch == kDelete || (ch >= kC1First && ch <= kC1Last);
  if (control && ch != U'\t') return {};
  const auto key = UsKeyFor(ch);
  if (!key) return {{}, false};
  // Caps Lock inverts Shift on the letter keys only.
  const bool shift = key->shift != (capsLock && IsLetter(ch));
  return {Around(key->code, shift ? std::optional<std::uint16_t>(KEY_LEFTSHIFT) : std::nullopt)};
}

std::unique_ptr<UinputKeySender> UinputKeySender::Open(const char* path, std::string& problem,
                                                       IDiagnostics& log) {
  // Read access too, for the Caps Lock light; writing alone will do.
  int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = std::string(path) + " cannot be opened for writing (" + std::strerror(errno) + ")";
    return nullptr;
  }
  bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) >= 0 && ioctl(fd, UI_SET_EVBIT, EV_SYN) >= 0;
  for (int code = KEY_ESC; ok && code <= kLastKeyboardKey; ++code)
    ok = ioctl(fd, UI_SET_KEYBIT, code) >= 0;
  if (ok && ioctl(fd, UI_SET_EVBIT, EV_LED) >= 0) ioctl(fd, UI_SET_LEDBIT, LED_CAPSL);
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  std::strncpy(setup.name, kDeviceName, UINPUT_MAX_NAME_SIZE - 1);
  ok = ok && ioctl(fd, UI_DEV_SETUP, &setup) >= 0 && ioctl(fd, UI_DEV_CREATE) >= 0;
  if (!ok) {
    problem = "creating a virtual keyboard on " + std::string(path) + " failed (" +
              std::strerror(errno) + ")";
    close(fd);
    return nullptr;
  }
  // The desktop takes a moment to open a new keyboard; the first record
  // comes long after: the window goes to the tray ten seconds after start.
  return std::unique_ptr<UinputKeySender>(new UinputKeySender(fd, log));
}

UinputKeySender::~UinputKeySender() {
  ioctl(fd_, UI_DEV_DESTROY);
  close(fd_);
}

void UinputKeySender::BeginRecord() {
  skippedInRecord_ = 0;
  input_event ev{};
  while (read(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev))
    if (ev.type == EV_LED && ev.code == LED_CAPSL) capsLock_ = ev.value != 0;
}

bool UinputKeySender::SendKeyTokens(std::string_view token) {
  const UinputPlan plan = PlanUinputKeys(token, capsLock_);
  if (!plan.typeable) {
    ++skipped_;
    ++skippedInRecord_;
    return true;
  }
  if (plan.events.empty()) return true;
  if (Write(fd_, plan.events)) return true;
  const int error = errno;
  // Whatever got through: no key of ours stays down.
  std::vector<EvdevEvent> up;
  for (const auto& e : plan.events)
    if (e.down) up.push_back({e.code, false});
  Write(fd_, up);
  log_.Event(std::string("Writing keys to the virtual keyboard failed: ") + std::strerror(error));
  return false;
}

void UinputKeySender::EndRecord() {
  if (skippedInRecord_ > 0)
    log_.Event(std::to_string(skippedInRecord_) +
               " characters of a record were not typed: the US layout has no key for them");
  skippedInRecord_ = 0;
}

}  // namespace tarvik::lnx
