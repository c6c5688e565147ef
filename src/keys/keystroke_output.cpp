#include "keys/keystroke_output.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "core/utf8.h"
#include "core/event_pump.h"
#include "core/trim.h"

namespace tarvik {

namespace {

constexpr std::string_view kUnicodeTokenStart = "{U+", kUnicodeTokenEnd = "}";
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr int kHexBase = 16;
// Times the way of typing is asked to ready a record's keys: it says how long
// to wait, so two suffice unless the keyboard changed meanwhile.
constexpr int kReadyAttempts = 4;

}  // namespace

std::string UnicodeToken(char32_t ch) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(ch));
  return std::string(kUnicodeTokenStart) + hex + std::string(kUnicodeTokenEnd);
}

std::optional<char32_t> ParseUnicodeToken(std::string_view token) {
  if (!token.starts_with(kUnicodeTokenStart) || !token.ends_with(kUnicodeTokenEnd)) return {};
  const auto digits = token.substr(kUnicodeTokenStart.size(),
                                   token.size() - kUnicodeTokenStart.size() - kUnicodeTokenEnd.size());
  std::uint32_t cp = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, kHexBase);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || cp > kLastCodePoint)
    return {};
  return static_cast<char32_t>(cp);
}

TypedRecord TypedRecord::Of(std::string_view utf8) {
  TypedRecord r;
  // A character is a whole code point: the two halves of a surrogate pair
  // never go out as two keys.
  r.keys = DecodeUtf8(utf8);
  return r;
}

void TypedRecord::AddToken(std::string token) {
  keys.push_back(kTokenKey + static_cast<char32_t>(tokens.size()));
  tokens.push_back(std::move(token));
}

std::string TypedRecord::Token(char32_t k) const {
  return k >= kTokenKey ? tokens.at(k - kTokenKey) : EncodeUtf8(k);
}

TypeOutcome KeystrokeOutput::inviarecord(std::string_view typedText) {
  return TypeRecord(TypedRecord::Of(typedText));
}

TypeOutcome KeystrokeOutput::TypeRecord(const TypedRecord& record) {
  if (!c_.TypesRecords()) return TypeOutcome::kShownOnly;
  if (const TypeOutcome text = TypeText(record); text != TypeOutcome::kTyped) return text;
  return TypeSuffixes(record);
}

bool KeystrokeOutput::Begin(const TypedRecord& record) {
  refused_ = false;
  paceMs_ = record.paceMs;
  keys_.SetKeyMode(record.keyMode);
  keys_.BeginRecord();
  if (ReadyKeys(record)) return true;
  keys_.EndRecord();
  return false;
}

TypeOutcome KeystrokeOutput::End() {
  // Keys may still be on their way: they count as typed once the system has
  // taken all of them. After a refusal this also sends out the releases
  // that undid it.
  FlushKeys();
  keys_.EndRecord();
  paceMs_ = 0;
  return refused_ ? TypeOutcome::kRefused : TypeOutcome::kTyped;
}

TypeOutcome KeystrokeOutput::TypeText(const TypedRecord& record) {
  if (!Begin(record)) return TypeOutcome::kRefused;
  SendRepeated(kPrefixKeyList, kPrefixCountList, record.prefix);
  pump_.ProcessPending();
  SendKeys(record);
  pump_.ProcessPending();
  // Out before the field is read; the record stays open for its suffixes.
  FlushKeys();
  return refused_ ? End() : TypeOutcome::kTyped;
}

TypeOutcome KeystrokeOutput::TypeSuffixes(const TypedRecord& record) {
  SendRepeated(kSuffix1KeyList, kSuffix1CountList, record.suffix1);
  pump_.ProcessPending();
  SendRepeated(kSuffix2KeyList, kSuffix2CountList, record.suffix2);
  pump_.ProcessPending();
  return End();
}

bool KeystrokeOutput::Send(std::string_view token) {
  if (refused_) return false;
  unflushed_ = true;
  if (!keys_.SendKeyTokens(token)) refused_ = true;
  return !refused_;
}

void KeystrokeOutput::inviaprefix() { SendRepeated(kPrefixKeyList, kPrefixCountList, {}); }
void KeystrokeOutput::inviaterm1() { SendRepeated(kSuffix1KeyList, kSuffix1CountList, {}); }
void KeystrokeOutput::inviaterm2() { SendRepeated(kSuffix2KeyList, kSuffix2CountList, {}); }

KeyRun KeystrokeOutput::RunFor(Ctl keyList, Ctl repeatList, const std::optional<KeyRun>& instead) const {
  if (instead) return instead->token.empty() ? KeyRun{} : *instead;
  const int key = c_.ListIndex(keyList);
  const int repeat = c_.ListIndex(repeatList);
  // Index 0 is "none" / 0 times; the test is on the indexes, not the texts.
  if (key <= 0 || repeat <= 0) return {};
  return {std::string(Trim(c_.ItemText(keyList, key), " ")), repeat};
}

std::vector<std::string> KeystrokeOutput::DistinctTokens(const TypedRecord& record) const {
  std::u32string keys = record.keys;
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::vector<std::string> tokens;
  tokens.reserve(keys.size());
  for (char32_t key : keys) tokens.push_back(record.Token(key));
  for (const KeyRun& run : {RunFor(kPrefixKeyList, kPrefixCountList, record.prefix),
                            RunFor(kSuffix1KeyList, kSuffix1CountList, record.suffix1),
                            RunFor(kSuffix2KeyList, kSuffix2CountList, record.suffix2)})
    if (run.count > 0 && std::find(tokens.begin(), tokens.end(), run.token) == tokens.end())
      tokens.push_back(run.token);
  return tokens;
}

bool KeystrokeOutput::CanType(const TypedRecord& record) {
  return keys_.CanTypeAll(DistinctTokens(record));
}

bool KeystrokeOutput::ReadyKeys(const TypedRecord& record) {
  const auto tokens = DistinctTokens(record);
  for (int i = 0; i < kReadyAttempts; ++i) {
    const auto wait = keys_.Ready(tokens);
    if (!wait) return false;
    if (wait->count() <= 0) return true;
    if (pump_.QuitRequested()) return false;
    Pause(pump_, clock_, static_cast<int>(wait->count()));
  }
  return false;
}

void KeystrokeOutput::SendRepeated(Ctl keyList, Ctl repeatList, const std::optional<KeyRun>& instead) {
  const auto [token, repeat] = RunFor(keyList, repeatList, instead);
  for (int i = 0; i < repeat; ++i) {
    if (!Send(token)) return;
    DelayAfterKey();
  }
}

void KeystrokeOutput::inviachar(const std::string& prova) { SendKeys(TypedRecord::Of(prova)); }

void KeystrokeOutput::SendKeys(const TypedRecord& record) {
  for (char32_t key : record.keys) {
    if (!Send(record.Token(key))) return;
    pump_.ProcessPending();
    DelayAfterKey(true);
  }
}

int KeystrokeOutput::CharDelayMs() const {
  int ms = 0;
  const int index = c_.ListIndex(kDelayList);
  if (index >= 0) {
    const std::string text = std::string(Trim(c_.ItemText(kDelayList, index), " "));
    std::from_chars(text.data(), text.data() + text.size(), ms);
  }
  return ms;
}

void KeystrokeOutput::DelayAfterKey(bool justProcessed) {
  // The delay list is read again before every pause.
  const int ms = std::max(CharDelayMs(), paceMs_);
  // A key followed by a pause is out before the pause, not after it; after
  // a refusal nothing more goes, so there is nothing to pause for.
  if (ms > 0) FlushKeys();
  // With no delay the pause is one pass of event processing, and one just
  // made would find nothing new: under Qt each pass costs a poll of every
  // source, as much as the key itself.
  if (!refused_ && (ms > 0 || !justProcessed)) Pause(pump_, clock_, ms);
}

void KeystrokeOutput::FlushKeys() {
  // Each key is waited for once; a refusal may have left releases to send.
  if (!std::exchange(unflushed_, false)) return;
  if (!keys_.Flush()) refused_ = unflushed_ = true;
}

}  // namespace tarvik
