// Picks how keys are typed on this desktop: XTest on the X display (under
// Wayland that is Xwayland, whose keys reach X programs only), else the
// kernel's virtual keyboard, else nothing, with a sentence saying why.
#pragma once
#include <memory>
#include <string>

#include "core/diagnostics.h"
#include "wedge/keystroke_output.h"

namespace tarvik::lnx {

inline constexpr char kUinputPath[] = "/dev/uinput";

// From $DISPLAY and /dev/uinput. Nothing when neither will type; then
// `problem` is the one sentence to show the user.
std::unique_ptr<IKeySender> MakeKeySender(std::string& problem, IDiagnostics& log = NoLog());
// The same choice for a given display name (null or empty: none) and device.
std::unique_ptr<IKeySender> MakeKeySender(const char* display, const char* uinputPath,
                                          std::string& problem, IDiagnostics& log = NoLog());

}  // namespace tarvik::lnx
