// The gap between keys that each program was found to need: a program whose
// field got other characters than were typed gets a longer gap for the
// records after, for the rest of the run, and they are checked the same way.
#pragma once
#include <algorithm>
#include <map>
#include <string>

namespace tarvik {

// The first gap given to a program that lost keys at full speed, and the
// longest it grows to by doubling: 10 ms was enough for every target that
// lost keys here; beyond the longest, typing is no faster than by hand.
inline constexpr int kFirstPaceMs = 5;
inline constexpr int kMaxPaceMs = 80;

class Paces {
 public:
  // The learned gap for a program; 0 where none was needed.
  int For(const std::string& program) const {
    const auto it = learned_.find(program);
    return it == learned_.end() ? 0 : it->second;
  }
  // A record typed at `usedMs` arrived wrong: the gap for the next ones, up
  // to kMaxPaceMs; the same as before where it is there already.
  int Raise(const std::string& program, int usedMs) {
    int& pace = learned_[program];
    pace = std::clamp(std::max(pace, usedMs) * 2, kFirstPaceMs, kMaxPaceMs);
    return pace;
  }

 private:
  std::map<std::string, int> learned_;
};

}  // namespace tarvik
