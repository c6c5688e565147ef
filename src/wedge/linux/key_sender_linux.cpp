#include "wedge/linux/key_sender_linux.h"

#include <cstdlib>

#include "wedge/linux/uinput_linux.h"
#include "wedge/linux/xtest_keyboard_linux.h"

namespace tarvik::lnx {

std::unique_ptr<IKeySender> MakeKeySender(std::string& problem, IDiagnostics& log) {
  return MakeKeySender(std::getenv("DISPLAY"), kUinputPath, problem, log);
}

std::unique_ptr<IKeySender> MakeKeySender(const char* display, const char* uinputPath,
                                          std::string& problem, IDiagnostics& log) {
  std::string xWhy = "no X display is set", deviceWhy;
  if (display && *display) {
    if (auto x = XTestKeySender::Open(display, xWhy, log)) {
      log.Event(std::string("Keys are typed through XTest on display ") + display);
      return x;
    }
  }
  if (auto device = UinputKeySender::Open(uinputPath, deviceWhy, log)) {
    log.Event(std::string("Keys are typed through a virtual keyboard on ") + uinputPath + " (" +
              xWhy + ")");
    return device;
  }
  problem = "Keys cannot be typed here: " + xWhy + ", and " + deviceWhy + ".";
  log.Event(problem);
  return nullptr;
}

}  // namespace tarvik::lnx
