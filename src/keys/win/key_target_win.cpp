#include "keys/win/key_target_win.h"

#include <string>
#include <vector>

#include "core/win/text_win.h"
#include "keys/win/raw_keys_win.h"

namespace tarvik::win {
namespace {

// Medium: a standard user's programs, and ours unless started as administrator.
constexpr std::uint32_t kMediumIntegrity = 0x2000;
// A window title longer than this is matched on its beginning.
constexpr int kTitleChars = 1024;

std::wstring DesktopName(HDESK desktop) {
  wchar_t name[256] = {};
  DWORD needed = 0;
  if (!GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof(name), &needed)) return {};
  return name;
}

std::string ProgramFile(HANDLE process) {
  wchar_t path[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  if (!QueryFullProcessImageNameW(process, 0, path, &length)) return {};
  const std::wstring full(path, length);
  const auto slash = full.find_last_of(L"\\/");
  return Narrow(slash == std::wstring::npos ? full : full.substr(slash + 1));
}

}  // namespace

std::optional<std::uint32_t> ProcessIntegrity(HANDLE process) {
  HANDLE raw = nullptr;
  // From a medium process, the token of an elevated one is closed to us, and
  // so is that of a program of another account or one whose security forbids
  // the question: "unknown" says only that.
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return std::nullopt;
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size))
    return std::nullopt;
  const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
  const UCHAR count = *GetSidSubAuthorityCount(label->Label.Sid);
  if (count == 0) return std::nullopt;
  return *GetSidSubAuthority(label->Label.Sid, count - 1);
}

// The input desktop is ours unless the lock screen, a UAC prompt or the
// secure attention screen has it. Windows answers that in one question about
// our own desktop (UOI_IO). Wine does not know the question; there the input
// desktop is opened, which fails (access denied) for a secure one, and its
// name compared with ours. This thread never changes its desktop, so ours and
// its name are read once.
bool Win32ForegroundQueries::InputDesktopIsOurs() {
  if (!ownDesktop_) {
    ownDesktop_ = GetThreadDesktop(GetCurrentThreadId());
    ownDesktopName_ = DesktopName(ownDesktop_);
  }
  if (askInput_) {
    BOOL receivesInput = FALSE;
    DWORD needed = 0;
    if (GetUserObjectInformationW(ownDesktop_, UOI_IO, &receivesInput, sizeof receivesInput, &needed))
      return receivesInput != FALSE;
    askInput_ = false;
  }
  UniqueDesktop input(OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS));
  if (!input) return false;
  const std::wstring name = DesktopName(input.get());
  return !name.empty() && name == ownDesktopName_;
}

HWND Win32ForegroundQueries::Foreground() { return GetForegroundWindow(); }

// For another process's window this reads the caption the system keeps,
// without a message to a program that may be hung.
std::string Win32ForegroundQueries::Title(HWND window) {
  wchar_t title[kTitleChars] = {};
  const int length = GetWindowTextW(window, title, kTitleChars);
  return Narrow(std::wstring_view(title, static_cast<std::size_t>(length > 0 ? length : 0)));
}

DWORD Win32ForegroundQueries::ProcessId(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

std::optional<IForegroundQueries::ProcessFacts> Win32ForegroundQueries::Facts(DWORD pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  return ProcessFacts{ProgramFile(process.get()), ProcessIntegrity(process.get())};
}

// UIPI refuses a program of lower integrity every posted message above
// WM_USER that the window has not let through, with ERROR_ACCESS_DENIED, and
// drops that program's injected keys to it without a word. A message
// registered under our own name is let through by no window and acted on by
// none: where it is refused, keys would be lost; where it is taken, the
// window is not above us, whoever's program it is (one started as another
// user runs at medium integrity, and its token is closed to us all the same).
std::optional<bool> Win32ForegroundQueries::TakesMessages(HWND window) {
  if (!probe_) probe_ = RegisterWindowMessageW(L"Tarvik.KeyReachProbe");
  if (!probe_) return std::nullopt;
  if (PostMessageW(window, probe_, 0, 0)) return true;
  if (GetLastError() == ERROR_ACCESS_DENIED) return false;
  return std::nullopt;  // the window went away, or its queue is full
}

Win32KeyTarget::Win32KeyTarget()
    : owned_(std::make_unique<Win32ForegroundQueries>()),
      queries_(owned_.get()),
      ownIntegrity_(ProcessIntegrity(GetCurrentProcess()).value_or(kMediumIntegrity)) {}

Win32KeyTarget::Win32KeyTarget(IForegroundQueries& queries, std::uint32_t ownIntegrity)
    : queries_(&queries), ownIntegrity_(ownIntegrity) {}

KeyTarget Win32KeyTarget::Query() const {
  // Every record starts here, before any key of ours is down: the held keys
  // raw input missed the release of are let go before the typing asks.
  PhysicalKeys::ForgetReleased();
  KeyTarget t;
  t.ownIntegrity = ownIntegrity_;
  t.inputDesktopIsOurs = queries_->InputDesktopIsOurs();
  const HWND foreground = queries_->Foreground();
  t.hasForeground = foreground != nullptr;
  if (!foreground) return t;
  t.title = queries_->Title(foreground);
  // A window handle outlives no process, and a process id is not given again
  // while its process runs: the same pair is the same process.
  const DWORD pid = queries_->ProcessId(foreground);
  if (!known_ || known_->window != foreground || known_->pid != pid) {
    known_.reset();
    auto facts = queries_->Facts(pid);
    if (!facts) {  // neither program nor integrity: asked again next time
      t.takesMessages = queries_->TakesMessages(foreground);
      return t;
    }
    known_ = Known{foreground, pid, std::move(*facts), std::nullopt};
  }
  t.program = known_->facts.program;
  t.targetIntegrity = known_->facts.integrity;
  if (!t.targetIntegrity) {
    if (!known_->takesMessages) known_->takesMessages = queries_->TakesMessages(foreground);
    t.takesMessages = known_->takesMessages;
  }
  return t;
}

}  // namespace tarvik::win
