// Where injected keys would go on Windows, and whether the system lets them.
#pragma once
#include "core/win/unique_any.h"
#include "wedge/key_reach.h"

namespace tarvik::win {

class Win32KeyTarget : public IKeyTarget {
 public:
  Win32KeyTarget();
  KeyTarget Query() const override;

 private:
  std::uint32_t ownIntegrity_ = 0;
};

// The mandatory integrity level of a process (SECURITY_MANDATORY_*_RID), or
// none when its token cannot be read.
std::optional<std::uint32_t> ProcessIntegrity(HANDLE process);

}  // namespace tarvik::win
