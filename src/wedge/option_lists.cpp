#include "wedge/option_lists.h"

#include <array>
#include <string_view>

#include "core/event_pump.h"

namespace tarvik {
namespace {

constexpr std::array<std::string_view, 25> kKeyTable = {
    "none",   "{BS}",   "{BREAK}", "{DOWN}", "{END}",  "{ENTER}", "{ESC}",
    "{HOME}", "{LEFT}", "{PGDN}",  "{RIGHT}", "{TAB}", "{UP}",    "{F1}",
    "{F2}",   "{F3}",   "{F4}",    "{F5}",   "{F6}",   "{F7}",    "{F8}",
    "{F9}",   "{F10}",  "{F11}",   "{F12}"};

constexpr std::string_view kUp = "{UP}";

}  // namespace

std::vector<std::string> Suffix1KeyEntries() { return {kKeyTable.begin(), kKeyTable.end()}; }

std::vector<std::string> PrefixKeyEntries() {
  std::vector<std::string> out;
  for (auto e : kKeyTable)
    if (e != kUp) out.emplace_back(e);
  return out;
}

std::vector<std::string> Suffix2KeyEntries() {
  std::vector<std::string> out;
  for (auto e : kKeyTable) {
    out.emplace_back(e);
    if (e == kUp) out.emplace_back(e);
  }
  return out;
}

void creacombo(IControls& c, IEventPump& pump, std::int16_t& settingsReady) {
  // Entry by entry into Combo2, Combo3, Combo8; the third append of "{UP}"
  // goes to Combo3 instead of Combo8.
  for (auto e : kKeyTable) {
    c.AddItem(kSuffix1KeyList, e);
    c.AddItem(kSuffix2KeyList, e);
    c.AddItem(e == kUp ? kSuffix2KeyList : kPrefixKeyList, e);
  }
  c.SetListIndex(kSuffix1KeyList, 0);
  c.SetListIndex(kSuffix2KeyList, 0);
  c.SetListIndex(kPrefixKeyList, 0);

  for (int i = 0; i <= 10; ++i) c.AddItem(kTimeoutList, std::to_string(i));
  c.SetListIndex(kTimeoutList, 0);

  c.AddItem(kHiddenNumberList, "none");
  for (int i = 1; i <= 255; ++i) c.AddItem(kHiddenNumberList, std::to_string(i));
  c.SetListIndex(kHiddenNumberList, 0);

  for (int i = 0; i <= 15; ++i) {
    const auto n = std::to_string(i);
    c.AddItem(kSuffix1CountList, n);
    c.AddItem(kSuffix2CountList, n);
    c.AddItem(kPrefixCountList, n);
  }
  c.SetListIndex(kSuffix1CountList, 0);
  c.SetListIndex(kSuffix2CountList, 0);
  c.SetListIndex(kPrefixCountList, 0);

  for (int i = 0; i <= 20; ++i) c.AddItem(kDelayList, std::to_string(i * 10));
  c.SetListIndex(kDelayList, 0);

  pump.ProcessPending();
  settingsReady = 1;
}

}  // namespace tarvik
