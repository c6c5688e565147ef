// The user's message boxes, the standard beep, and what happens when a
// handler fails, on Linux (Qt Widgets).
#pragma once
#include "core/guard.h"  // FatalError and RunOrStop
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

}  // namespace tarvik::lnx
