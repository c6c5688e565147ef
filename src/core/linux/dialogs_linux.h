// The user's message boxes, the standard beep, and what happens when a
// handler fails, on Linux (Qt Widgets).
#pragma once
#include <exception>
#include <string_view>

#include "core/dialogs.h"

class QWidget;

namespace tarvik::lnx {

class QtDialogs : public IDialogs {
 public:
  explicit QtDialogs(QWidget* owner) : owner_(owner) {}
  void Inform(const std::string& text) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void Beep() override;

 private:
  QWidget* Parent() const;

  QWidget* owner_;
};

inline constexpr char kProgramTitle[] = "Tarvik";

// Shows what failed (and writes it to standard error) and ends the program.
[[noreturn]] void FatalError(std::string_view what);

// Nothing may unwind through Qt's code that called a slot, a timer or an
// event handler: they run inside RunGuarded.
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

}  // namespace tarvik::lnx
