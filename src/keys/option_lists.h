// The nine option lists of the main window and their entries. The settings
// file stores list indexes, so the position of every entry is part of the
// file format: never reorder these.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/controls.h"

namespace tarvik {

class IEventPump;

// The key tokens in the order the key lists offer them, "none" first. The
// prefix list leaves out "{UP}", the suffix-2 list holds it twice.
std::vector<std::string> PrefixKeyEntries();   // Combo8, 24 entries
std::vector<std::string> Suffix1KeyEntries();  // Combo2, 25 entries
std::vector<std::string> Suffix2KeyEntries();  // Combo3, 26 entries

// Fills the nine lists, selects entry 0 in each, processes pending events and
// sets settingsReady to 1 as its very last step. It appends, so it runs once.
void creacombo(IControls& controls, IEventPump& pump, std::int16_t& settingsReady);

}  // namespace tarvik
