#include "shell/rx_layout.h"

#include <array>

namespace tarvik {
namespace {

using K = ControlKind;

constexpr std::array<ControlSpec, 25> kControls = {{
    {"Command6", K::Button, "Select device", 60, 60, 1875, 435, std::nullopt},
    {"Label25", K::Label, "", 2040, 60, 2355, 435, Ctl::Label25, Look::kAddress},
    {"Label18", K::Label, "Timeout Min.", 60, 720, 1035, 255, std::nullopt},
    {"Combo9", K::List, "", 1080, 660, 795, 315, Ctl::Combo9},
    {"Label20", K::Label, "Intercharacter delay mSec.", 2340, 1020, 2055, 255, std::nullopt},
    {"Check2", K::Check, "Feedback", 60, 1260, 1215, 375, Ctl::Check2},
    {"Check1", K::Check, "Beep", 1440, 1260, 855, 375, Ctl::Check1},
    {"Combo1", K::List, "", 2340, 1260, 2055, 315, Ctl::Combo1},
    {"Label9", K::Label, "Last Barcode", 60, 1680, 4335, 375, std::nullopt, Look::kSystemText},
    {"Label1", K::Label, "", 60, 1920, 4335, 375, Ctl::Label1, Look::kLastLine},
    {"Label27", K::Label, "Prefix", 60, 2400, 1515, 255, std::nullopt},
    {"Label26", K::Label, "Repeat time", 1860, 2400, 855, 255, std::nullopt},
    {"Label28", K::Label, "quillmarks.example", 2940, 2400, 1395, 255, std::nullopt, Look::kWebCaption},
    {"Combo8", K::List, "", 60, 2640, 1515, 315, Ctl::Combo8},
    {"Combo7", K::List, "", 1860, 2640, 915, 315, Ctl::Combo7},
    {"Picture3", K::Picture, "", 2880, 2640, 1395, 330, std::nullopt, Look::kLogo},
    {"Label21", K::Label, "Suffix 1", 60, 3120, 1515, 255, std::nullopt},
    {"Label23", K::Label, "Repeat time", 1860, 3120, 855, 255, std::nullopt},
    {"Combo2", K::List, "", 60, 3360, 1515, 315, Ctl::Combo2},
    {"Combo4", K::List, "", 1860, 3360, 915, 315, Ctl::Combo4},
    {"Command3", K::Button, "Quit", 2880, 3360, 1515, 1095, std::nullopt, Look::kQuitButton},
    {"Label22", K::Label, "Suffix 2", 60, 3840, 1515, 255, std::nullopt},
    {"Label24", K::Label, "Repeat time", 1860, 3840, 855, 255, std::nullopt},
    {"Combo3", K::List, "", 60, 4080, 1515, 315, Ctl::Combo3},
    {"Combo5", K::List, "", 1860, 4080, 915, 315, Ctl::Combo5},
}};

constexpr std::array<std::string_view, 12> kTabOrder = {
    "Check1", "Combo1", "Combo8", "Combo7", "Combo2", "Combo4",
    "Combo3", "Combo5", "Command3", "Check2", "Command6", "Combo9"};

}  // namespace

std::span<const ControlSpec> RxControls() { return kControls; }
std::span<const std::string_view> RxTabOrder() { return kTabOrder; }

}  // namespace tarvik
