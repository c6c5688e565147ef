// A diagnostics log that keeps its events in memory.
#pragma once
#include <string>
#include <vector>

#include "core/diagnostics.h"

namespace tarvik::testing {

class RecordingLog : public IDiagnostics {
 public:
  void Event(std::string_view text) override { events.emplace_back(text); }
  // The events joined, one a line.
  std::string Text() const {
    std::string out;
    for (const auto& e : events) out += e + "\n";
    return out;
  }
  std::vector<std::string> events;
};

}  // namespace tarvik::testing
