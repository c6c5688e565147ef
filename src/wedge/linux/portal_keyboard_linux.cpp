#include "wedge/linux/portal_keyboard_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/linux/file_io_linux.h"
#include "core/linux/xdg_linux.h"
#include "wedge/linux/portal_session_linux.h"
#include "wedge/linux/xtest_keyboard_linux.h"

namespace tarvik::lnx {
namespace {

// A restore token is a short string; anything longer is not one.
constexpr std::size_t kTokenLimit = 4096;
constexpr char kTokenFileName[] = "portal-restore-token";

}  // namespace

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
  map_ = layout_.Keymap();
  map_.spare.clear();  // the desktop's layout is not ours to change
  return map_;
}

bool PortalKeyboard::Send(std::span<const XKeyAction> events) {
  for (const XKeyAction& e : events)
    if (!keys_.NotifyKey(static_cast<int>(e.code) - kXKeycodeOffset, e.down)) return false;
  return true;
}

PortalKeySender::PortalKeySender(std::unique_ptr<XTestKeyboard> layout,
                                 std::unique_ptr<PortalSession> session, IDiagnostics& log)
    : layout_(std::move(layout)),
      session_(std::move(session)),
      keyboard_(*layout_, *session_),
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
  auto session = std::make_unique<PortalSession>(RestoreTokenFile(tokenPath), log);
  session->Begin();
  return std::unique_ptr<PortalKeySender>(
      new PortalKeySender(std::move(layout), std::move(session), log));
}

std::string PortalKeySender::WhyNotReady() { return session_->WhyNotReady(); }

}  // namespace tarvik::lnx
