// Where injected keys would go on Windows, and whether the system lets them.
#pragma once
#include "core/win/unique_any.h"

#include <memory>

#include "keys/key_reach.h"

namespace tarvik::win {

// What the reach decision asks the system, one question each, so that a
// test can stand in for the system and count the questions.
class IForegroundQueries {
 public:
  // What cannot change while a process lives: its program file and its
  // integrity level (none when its token cannot be read).
  struct ProcessFacts {
    std::string program;
    std::optional<std::uint32_t> integrity;
  };
  virtual ~IForegroundQueries() = default;
  virtual bool InputDesktopIsOurs() = 0;
  virtual HWND Foreground() = 0;
  virtual std::string Title(HWND window) = 0;
  virtual DWORD ProcessId(HWND window) = 0;  // 0 when the window is gone
  // None when the process cannot be opened.
  virtual std::optional<ProcessFacts> Facts(DWORD pid) = 0;
  // Whether the window takes a message the system holds back from programs
  // of lower integrity (as it drops their injected keys); none when the
  // system said neither.
  virtual std::optional<bool> TakesMessages(HWND window) = 0;
};

// The system's own answers.
class Win32ForegroundQueries : public IForegroundQueries {
 public:
  bool InputDesktopIsOurs() override;
  HWND Foreground() override;
  std::string Title(HWND window) override;
  DWORD ProcessId(HWND window) override;
  std::optional<ProcessFacts> Facts(DWORD pid) override;
  std::optional<bool> TakesMessages(HWND window) override;

 private:
  UINT probe_ = 0;  // our own registered message, which no window acts on
  // This thread's desktop and its name, which a desktop keeps for life.
  HDESK ownDesktop_ = nullptr;
  std::wstring ownDesktopName_;
  bool askInput_ = true;  // until the system shows it does not know UOI_IO
};

// Every key's record asks this first: the window in front, the input desktop
// and the title are asked each time, since they change at any moment. The
// process's facts are kept while the same window of the same process is in
// front: opening the process and reading its token cost the first key most
// of its delay, and neither can change while the process lives. Where the
// token cannot be read, whether our messages reach the window decides, and a
// definite answer is kept too. As each record starts here, keys raw input
// still holds that the system has let go are forgotten here too.
class Win32KeyTarget : public IKeyTarget {
 public:
  Win32KeyTarget();
  Win32KeyTarget(IForegroundQueries& queries, std::uint32_t ownIntegrity);
  KeyTarget Query() const override;

 private:
  struct Known {
    HWND window;
    DWORD pid;
    IForegroundQueries::ProcessFacts facts;
    std::optional<bool> takesMessages;  // asked only where the integrity is unknown
  };
  std::unique_ptr<IForegroundQueries> owned_;
  IForegroundQueries* queries_;
  std::uint32_t ownIntegrity_ = 0;
  mutable std::optional<Known> known_;  // the last window in front, when its process could be opened
};

// The mandatory integrity level of a process (SECURITY_MANDATORY_*_RID), or
// none when its token cannot be read.
std::optional<std::uint32_t> ProcessIntegrity(HANDLE process);

}  // namespace tarvik::win
