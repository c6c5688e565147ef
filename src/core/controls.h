// The main window's controls as the logic sees them: lists, check boxes,
// labels and the window's show state. No platform type crosses this seam.
#pragma once
#include <string>
#include <string_view>

namespace tarvik {

enum class Ctl {
  Combo1, Combo2, Combo3, Combo4, Combo5, Combo6, Combo7, Combo8, Combo9,
  Check1, Check2,
  Label1, Label25,
};

// What each control is for. The logic names controls by role; the design's
// names stay where the window is built and where its handlers are named.
inline constexpr Ctl kBeepBox = Ctl::Check1;          // play beep1.wav for a line
inline constexpr Ctl kFeedbackBox = Ctl::Check2;      // answer "F" for a line
inline constexpr Ctl kDelayList = Ctl::Combo1;        // pause between keys, 0 to 200 ms
inline constexpr Ctl kSuffix1KeyList = Ctl::Combo2;   // first key after the record
inline constexpr Ctl kSuffix2KeyList = Ctl::Combo3;   // second key after the record
inline constexpr Ctl kSuffix1CountList = Ctl::Combo4;  // how often the first suffix goes
inline constexpr Ctl kSuffix2CountList = Ctl::Combo5;  // how often the second suffix goes
inline constexpr Ctl kHiddenNumberList = Ctl::Combo6;  // never shown; stored and restored only
inline constexpr Ctl kPrefixCountList = Ctl::Combo7;   // how often the prefix goes
inline constexpr Ctl kPrefixKeyList = Ctl::Combo8;     // key before the record
inline constexpr Ctl kTimeoutList = Ctl::Combo9;       // minutes without data before the link closes
inline constexpr Ctl kLastLineLabel = Ctl::Label1;     // the last line received
inline constexpr Ctl kAddressLabel = Ctl::Label25;     // the reader's address, green with a link

class IControls {
 public:
  virtual ~IControls() = default;
  // Lists. Setting the index raises the list's change handler when the
  // selection actually changes, as a user's pick would.
  virtual void AddItem(Ctl list, std::string_view text) = 0;
  virtual int ListCount(Ctl list) const = 0;
  virtual int ListIndex(Ctl list) const = 0;  // -1: nothing selected
  virtual void SetListIndex(Ctl list, int index) = 0;
  virtual std::string ItemText(Ctl list, int index) const = 0;
  // Check boxes: 0 unchecked, 1 checked; setting raises the click handler on change.
  virtual int CheckValue(Ctl box) const = 0;
  virtual void SetCheckValue(Ctl box, int value) = 0;
  // Labels.
  virtual std::string Caption(Ctl label) const = 0;
  virtual void SetCaption(Ctl label, std::string_view text) = 0;
  // Whether records are typed now: only while the main window is out of the
  // user's sight (minimized, in the tray, or hidden where the desktop would
  // not minimize it). While it shows, records are shown only.
  virtual bool TypesRecords() const = 0;
  // Background of the address label Label25: green with a link, red without.
  virtual void SetLinkColour(bool linkOpen) = 0;
};

}  // namespace tarvik
