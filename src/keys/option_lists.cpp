#include "keys/option_lists.h"

#include <array>
#include <string_view>

#include "core/event_pump.h"
#include "keys/brace_keys.h"

namespace tarvik {
namespace {

// What the lists offer.
constexpr int kMaxTimeoutMinutes = 10;
constexpr int kMaxHiddenNumber = 255;
constexpr int kMaxRepeats = 15;
constexpr int kMaxDelayMs = 200, kDelayStepMs = 10;

// "none", then the brace tokens that key planning knows, in its order.
std::vector<std::string_view> KeyTable() {
  std::vector<std::string_view> entries{"none"};
  for (auto token : BraceTokens()) entries.push_back(token);
  return entries;
}

constexpr std::string_view kUp = "{UP}";

}  // namespace

std::vector<std::string> Suffix1KeyEntries() {
  const auto table = KeyTable();
  return {table.begin(), table.end()};
}

std::vector<std::string> PrefixKeyEntries() {
  std::vector<std::string> out;
  for (auto e : KeyTable())
    if (e != kUp) out.emplace_back(e);
  return out;
}

std::vector<std::string> Suffix2KeyEntries() {
  std::vector<std::string> out;
  for (auto e : KeyTable()) {
    out.emplace_back(e);
    if (e == kUp) out.emplace_back(e);
  }
  return out;
}

void creacombo(IControls& c, IEventPump& pump, std::int16_t& settingsReady) {
  // Entry by entry into Combo2, Combo3, Combo8; the third append of "{UP}"
  // goes to Combo3 instead of Combo8.
  for (auto e : KeyTable()) {
    c.AddItem(kSuffix1KeyList, e);
    c.AddItem(kSuffix2KeyList, e);
    c.AddItem(e == kUp ? kSuffix2KeyList : kPrefixKeyList, e);
  }
  c.SetListIndex(kSuffix1KeyList, 0);
  c.SetListIndex(kSuffix2KeyList, 0);
  c.SetListIndex(kPrefixKeyList, 0);

  for (int i = 0; i <= kMaxTimeoutMinutes; ++i) c.AddItem(kTimeoutList, std::to_string(i));
  c.SetListIndex(kTimeoutList, 0);

  c.AddItem(kHiddenNumberList, "none");
  for (int i = 1; i <= kMaxHiddenNumber; ++i) c.AddItem(kHiddenNumberList, std::to_string(i));
  c.SetListIndex(kHiddenNumberList, 0);

  for (int i = 0; i <= kMaxRepeats; ++i) {
    const auto n = std::to_string(i);
    c.AddItem(kSuffix1CountList, n);
    c.AddItem(kSuffix2CountList, n);
    c.AddItem(kPrefixCountList, n);
  }
  c.SetListIndex(kSuffix1CountList, 0);
  c.SetListIndex(kSuffix2CountList, 0);
  c.SetListIndex(kPrefixCountList, 0);

  for (int i = 0; i <= kMaxDelayMs / kDelayStepMs; ++i)
    c.AddItem(kDelayList, std::to_string(i * kDelayStepMs));
  c.SetListIndex(kDelayList, 0);

  pump.ProcessPending();
  settingsReady = 1;
}

}  // namespace tarvik
