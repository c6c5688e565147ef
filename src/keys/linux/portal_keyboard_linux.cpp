#include "keys/linux/portal_keyboard_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "core/linux/file_io_linux.h"
#include "core/linux/xdg_linux.h"
#include "keys/linux/gnome_layout_linux.h"
#include "keys/linux/portal_session_linux.h"
#include "keys/linux/xtest_keyboard_linux.h"

namespace tarvik::lnx {
namespace {

// A restore token is a short string; anything longer is not one.
constexpr std::size_t kTokenLimit = 4096;
constexpr char kTokenFileName[] = "portal-restore-token";

// mutter's pause before and after a modifier change (see PortalDesktop).
// Measured on a headless GNOME 43 with a GTK window on Xwayland, lines of
// capitals and shifted symbols: back to back 39 of 60 lines came out wrong;
// 5 ms after each change 2 of 30; 5 ms before and after 2 of 48; 10 ms
// before and after 1 of 138. A native Wayland window got every line right
// at any of them.
constexpr int kGnomeModifierGapMs = 10;
constexpr std::string_view kGnomeName = "GNOME";

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

PortalDesktop PortalDesktopNamed(std::string_view currentDesktop) {
  while (!currentDesktop.empty()) {
    const std::size_t end = currentDesktop.find(':');
    if (SameLetters(currentDesktop.substr(0, end), kGnomeName)) return PortalDesktop::kGnome;
    if (end == std::string_view::npos) break;
    currentDesktop.remove_prefix(end + 1);
  }
  return PortalDesktop::kOther;
}

bool ChangesModifier(const XKeyAction& event) {
  switch (event.role) {
    case XKeyAction::Role::Modifier:
    case XKeyAction::Role::UserRelease:
    case XKeyAction::Role::UserRestore:
      return true;
    default:
      return false;
  }
}

PortalGaps PortalGapsFor(PortalDesktop desktop, const XKeyAction& event) {
  if (desktop != PortalDesktop::kGnome || !ChangesModifier(event)) return {};
  return {kGnomeModifierGapMs, kGnomeModifierGapMs};
}

std::string DefaultRestoreTokenPath() {
  const std::string folder = ProgramFolder(BaseDir::State);
  return folder.empty() ? std::string() : folder + "/" + kTokenFileName;
}

std::string RestoreTokenFile::Read() const {
  if (path_.empty()) return {};
  Fd file(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  std::string token;
  if (file.fd < 0 || !ReadUpTo(file.fd, kTokenLimit, token)) return {};
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  return token;
}

// Written beside the old file and renamed over it: a crash leaves the old
// token or the new one, never half of one.
bool RestoreTokenFile::Write(const std::string& token, std::string& why) const {
  if (path_.empty()) return why = "no state folder", false;
  if (token.empty()) {
    if (unlink(path_.c_str()) == 0 || errno == ENOENT) return true;
    return why = DescribeErrno("removing " + path_, errno), false;
  }
  const std::string folder = path_.substr(0, path_.rfind('/'));
  if (!MakeFolders(folder)) return why = DescribeErrno("making " + folder, errno), false;
  return SaveFileAtomically(path_, token, true, why);
}

const XKeymap& PortalKeyboard::Keymap() {
  map_ = current_ ? *current_ : layout_.Keymap();
  map_.spare.clear();  // the desktop's layout is not ours to change
  return map_;
}

XKeyboardState PortalKeyboard::State() {
  XKeyboardState state = layout_.State();
  if (capsLock_)
    state.locked = static_cast<std::uint8_t>((state.locked & ~xmod::kLock) | (*capsLock_ ? xmod::kLock : 0));
  return state;
}

void PortalKeyboard::BeginRecord() {
  awaitEcho_ = desktop_ == PortalDesktop::kGnome && echo_ && wait_ && echo_->XWindowFocused();
}

bool PortalKeyboard::AwaitEcho(const XKeyAction& e) {
  std::uint8_t mask = 0;
  for (const ModifierKey& m : map_.modifiers)
    if (m.code == e.code) mask = m.mask;
  // A release waits for the key alone: another key may hold the same modifier.
  const auto shown = [&](const IXwaylandEcho::Key& k) {
    return k.down == e.down && (!e.down || (k.mods & mask) == mask);
  };
  for (int waited = 0;; waited += kEchoPollMs) {
    const std::optional<IXwaylandEcho::Key> key = echo_->KeyState(e.code);
    if (key && shown(*key)) return true;
    if (waited >= kEchoLimitMs) break;
    wait_->WaitMs(kEchoPollMs);
  }
  // Either way the keys left of this record (a refused one's releases) are
  // paced only. A Wayland window took the focus meanwhile: Xwayland is no
  // longer told, and the record goes on.
  awaitEcho_ = false;
  if (!echo_->XWindowFocused()) return true;
  log_.Event("Desktop portal: Xwayland did not show a modifier key " +
             std::string(e.down ? "pressed" : "released") + " within " + std::to_string(kEchoLimitMs) +
             " ms while an X window has the focus; the rest of the record is not typed");
  return false;
}

bool PortalKeyboard::Send(std::span<const XKeyAction> events) {
  for (const XKeyAction& e : events) {
    const PortalGaps gaps = PortalGapsFor(desktop_, e);
    if (gaps.beforeMs > 0 && wait_) wait_->WaitMs(gaps.beforeMs);
    if (!keys_.NotifyKey(static_cast<int>(e.code) - kXKeycodeOffset, e.down)) return false;
    if (awaitEcho_ && ChangesModifier(e) && !AwaitEcho(e)) return false;
    if (gaps.afterMs > 0 && wait_) wait_->WaitMs(gaps.afterMs);
  }
  return true;
}

bool PortalKeySender::Echo::XWindowFocused() { return x_.XWindowActive(); }

std::optional<IXwaylandEcho::Key> PortalKeySender::Echo::KeyState(Keycode code) {
  const auto key = x_.ReadServerKey(code);
  if (!key) return std::nullopt;
  return Key{key->down, key->mods};
}

PortalKeySender::PortalKeySender(std::unique_ptr<XTestKeyboard> layout,
                                 std::unique_ptr<PortalSession> session, PortalDesktop desktop,
                                 IDiagnostics& log)
    : layout_(std::move(layout)),
      session_(std::move(session)),
      desktop_(desktop),
      log_(log),
      echo_(*layout_),
      keyboard_(*layout_, *session_, desktop, &wait_, &echo_, log),
      injector_(keyboard_, log) {}

PortalKeySender::~PortalKeySender() = default;

std::unique_ptr<PortalKeySender> PortalKeySender::Open(const char* display,
                                                       const std::string& tokenPath,
                                                       std::string& problem, IDiagnostics& log) {
  std::string why;
  auto layout = XTestKeyboard::Open(display, why);
  if (!layout) {
    problem = "the desktop's keyboard layout cannot be read from its X display (" + why + ")";
    return nullptr;
  }
  const char* desktopName = getenv("XDG_CURRENT_DESKTOP");
  const PortalDesktop desktop = PortalDesktopNamed(desktopName ? desktopName : "");
  if (desktop == PortalDesktop::kGnome)
    log.Event("Desktop portal: GNOME (XDG_CURRENT_DESKTOP); a pause of " +
              std::to_string(kGnomeModifierGapMs) +
              " ms before and after each Shift or AltGr lets mutter apply it before the next key");
  auto session = std::make_unique<PortalSession>(RestoreTokenFile(tokenPath), log);
  session->Begin();
  return std::unique_ptr<PortalKeySender>(
      new PortalKeySender(std::move(layout), std::move(session), desktop, log));
}

std::string PortalKeySender::WhyNotReady() {
  std::string why = session_->WhyNotReady();
  if (!why.empty() || desktop_ != PortalDesktop::kGnome) return why;
  // Read per record: the user may have switched since the last one.
  XkbNames names;
  std::optional<XKeymap> current = GnomeCurrentKeymap(why, &names);
  const std::string seen = current ? names.layout + (names.variant.empty() ? "" : "+" + names.variant) +
                                         (names.options.empty() ? "" : " (" + names.options + ")")
                                   : why;
  if (seen != layoutSeen_) {
    log_.Event(current ? "Desktop portal: keys are planned with GNOME's input source in use, " + seen
                       : "Desktop portal: keys are planned with Xwayland's layout, which may not be "
                         "the one in use: " + seen);
    layoutSeen_ = seen;
  }
  keyboard_.UseKeymap(std::move(current));
  // Xwayland's Caps Lock is current while an X window has the focus; else the lights tell.
  std::optional<bool> caps;
  if (!echo_.XWindowFocused()) {
    caps = CapsLockLit();
    if (!caps && !staleCapsTold_) {
      log_.Event("Desktop portal: no keyboard light shows Caps Lock, and Xwayland is not told of it "
                 "while a Wayland window has the focus: letters typed there follow Xwayland's last "
                 "Caps Lock");
      staleCapsTold_ = true;
    }
  }
  keyboard_.UseCapsLock(caps);
  return {};
}

}  // namespace tarvik::lnx
