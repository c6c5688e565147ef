// Messages to the user, answered as the test says, and the diagnostics log.
#pragma once
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/dialogs.h"

namespace tarvik::testing {

class FakeDialogs : public IDialogs {
 public:
  void Inform(const std::string& text) override { informed.push_back(text); }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    asked.push_back(caption + " " + text);
    return answer;
  }
  void Beep() override { ++beeps; }
  std::vector<std::string> informed, asked;
  bool answer = false;
  int beeps = 0;
};

class FakeNotice : public INotice {
 public:
  void Warn(const std::string& text) override { warnings.push_back(text); }
  std::vector<std::string> warnings;
};

class RecordingLog : public IDiagnostics {
 public:
  void Event(std::string_view text) override { events.emplace_back(text); }
  std::string Text() const {  // one event a line
    std::string out;
    for (const auto& e : events) out += e + "\n";
    return out;
  }
  std::vector<std::string> events;
};

}  // namespace tarvik::testing
