// Nothing may unwind through the system's code that called a window
// procedure, a slot, a timer or a thread: handlers run inside RunGuarded.
#pragma once
#include <exception>
#include <string_view>

namespace tarvik {

// Shows what failed and ends the program; each platform has its own.
[[noreturn]] void FatalError(std::string_view what);

template <typename F>
void RunGuarded(F&& f) noexcept {
  try {
    f();
  } catch (const std::exception& e) {
    FatalError(e.what());
  } catch (...) {
    FatalError("An unexpected failure.");
  }
}

}  // namespace tarvik
