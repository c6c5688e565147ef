// Nothing may unwind through the system's code that called a window
// procedure, a slot, a timer or a thread: handlers run inside RunOrStop.
#pragma once
#include <exception>
#include <string>
#include <string_view>

namespace tarvik {

// Shows what failed and ends the program; each platform has its own.
[[noreturn]] void FatalError(std::string_view what);

// Runs a handler. An exception out of it is a failure nobody planned for:
// the program's state (a record half-typed, a link half-open, a modifier
// pressed for the user) can no longer be trusted, so the program says what
// failed and ends, on every platform and in every handler alike, rather
// than go on typing from a state nobody knows.
template <typename F>
void RunOrStop(std::string_view what, F&& f) noexcept {
  try {
    f();
  } catch (const std::exception& e) {
    FatalError(std::string(what) + " failed: " + e.what());
  } catch (...) {
    FatalError(std::string(what) + " failed with an unexpected exception.");
  }
}

}  // namespace tarvik
