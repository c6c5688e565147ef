#include "wedge/keystroke_output.h"

#include <charconv>

#include "core/utf8.h"
#include "core/event_pump.h"
#include "core/trim.h"

namespace tarvik {

TypeOutcome KeystrokeOutput::inviarecord(std::string_view typedText) {
  if (!c_.IsMinimized()) return TypeOutcome::kShownOnly;
  refused_ = false;
  keys_.BeginRecord();
  inviaprefix();
  pump_.ProcessPending();
  inviachar(std::string(typedText));
  pump_.ProcessPending();
  inviaterm1();
  pump_.ProcessPending();
  inviaterm2();
  pump_.ProcessPending();
  keys_.EndRecord();
  return refused_ ? TypeOutcome::kRefused : TypeOutcome::kTyped;
}

bool KeystrokeOutput::Send(std::string_view token) {
  if (refused_) return false;
  if (!keys_.SendKeyTokens(token)) refused_ = true;
  return !refused_;
}

void KeystrokeOutput::inviaprefix() { SendRepeated(kPrefixKeyList, kPrefixCountList); }
void KeystrokeOutput::inviaterm1() { SendRepeated(kSuffix1KeyList, kSuffix1CountList); }
void KeystrokeOutput::inviaterm2() { SendRepeated(kSuffix2KeyList, kSuffix2CountList); }

void KeystrokeOutput::SendRepeated(Ctl keyList, Ctl repeatList) {
  const int key = c_.ListIndex(keyList);
  const int repeat = c_.ListIndex(repeatList);
  // Index 0 is "none" / 0 times; the test is on the indexes, not the texts.
  if (key <= 0 || repeat <= 0) return;
  const std::string token = std::string(Trim(c_.ItemText(keyList, key), " "));
  for (int i = 0; i < repeat; ++i) {
    if (!Send(token)) return;
    DelayAfterKey();
  }
}

void KeystrokeOutput::inviachar(const std::string& prova) {
  // One character at a time, a character being a whole code point: the two
  // halves of a surrogate pair never go out as two keys.
  for (char32_t ch : DecodeUtf8(prova)) {
    if (!Send(EncodeUtf8(ch))) return;
    pump_.ProcessPending();
    DelayAfterKey();
  }
}

void KeystrokeOutput::DelayAfterKey() {
  // The delay list is read again before every pause.
  int ms = 0;
  const int index = c_.ListIndex(kDelayList);
  if (index >= 0) {
    const std::string text = std::string(Trim(c_.ItemText(kDelayList, index), " "));
    std::from_chars(text.data(), text.data() + text.size(), ms);
  }
  Pause(pump_, clock_, ms);
}

}  // namespace tarvik
