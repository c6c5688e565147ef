// Types one record into the focused application: prefix key, characters,
// suffix 1, suffix 2, each key followed by the inter-character delay. Every
// setting is read from its list at the moment it is needed, so a change made
// while a record is being typed takes effect at the next key.
#pragma once
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/controls.h"

namespace tarvik {

class IEventPump;
class IClock;

// A key token is a brace token of the option lists ("{TAB}"), one character
// (typed with the layout's keys where it has them), or a Unicode token
// "{U+001D}": that character itself, sent as a Unicode character without
// looking at the layout, for control characters the rules say to send as such.
std::string UnicodeToken(char32_t ch);
std::optional<char32_t> ParseUnicodeToken(std::string_view token);

// How a record's characters go where the system offers two ways (Windows):
// as the layout's keys or as Unicode packets, decided from the focused
// window's input method, or as the rules force it for a program that needs one.
enum class KeyMode { kAuto, kLayout, kUnicode };

// Key injection: the events of one key token go to the window that has the
// keyboard focus; returns without waiting for that window to read them.
class IKeySender {
 public:
  virtual ~IKeySender() = default;
  // False when the system took none or only part of the token's events, or
  // of earlier ones it had not answered for yet: the keys cannot reach the
  // target, and the rest of the record is not typed.
  virtual bool SendKeyTokens(std::string_view token) = 0;
  // Whether this way of typing can type the token at all, on the keyboard as
  // it is now. A record with a token it cannot is not typed, nor answered:
  // dropping the character would type a different record.
  virtual bool CanType(std::string_view /*token*/) { return true; }
  // The same for a whole record: its distinct tokens, prefix and suffixes
  // included. A way of typing that has only so many keys for characters the
  // layout lacks counts them over the record; by default, token by token.
  virtual bool CanTypeAll(std::span<const std::string> tokens) {
    for (const auto& t : tokens)
      if (!CanType(t)) return false;
    return true;
  }
  // Once a record has begun, before its first key: readies the keys for its
  // distinct tokens (binds the characters the layout lacks). How long to
  // wait before asking again, zero when the keys can go now; nothing when
  // the record cannot be typed after all (the layout changed since CanTypeAll).
  virtual std::optional<std::chrono::milliseconds> Ready(std::span<const std::string> /*tokens*/) {
    return std::chrono::milliseconds(0);
  }
  // Why no key can go now, in a few words ("the desktop has not allowed
  // Tarvik to type"); empty when keys can go. Asking may start a new attempt
  // to get ready, which a later record then finds done.
  virtual std::string WhyNotReady() { return {}; }
  // Before BeginRecord: how this record's characters go, where there is a choice.
  virtual void SetKeyMode(KeyMode /*mode*/) {}
  // A record starts: the keyboard's lock state and input method are read afresh.
  virtual void BeginRecord() {}
  // A record has ended: no modifier stays down that the user does not hold.
  virtual void EndRecord() {}
  // Every key sent so far has reached the system; false when some were
  // refused. A sender whose SendKeyTokens waits for the system's answer has
  // nothing left to wait for; one that only queues its keys waits here.
  virtual bool Flush() { return true; }
};

// What became of one record's keys.
enum class TypeOutcome {
  kShownOnly,  // the main window is shown: records are displayed, not typed
  kTyped,
  kRefused,    // the system refused the keys part-way: the rest was not typed
};

// A key typed a number of times before or after a record, in place of the
// window's lists. No token: none.
struct KeyRun {
  std::string token;
  int count = 0;
  bool operator==(const KeyRun&) const = default;
};

// One record's keys: its tokens in order, and where the rules say so, the
// prefix and suffixes to use instead of the lists'. A key is a character,
// or past the last code point a token of `tokens` (kTokenKey + its index):
// a brace key or a Unicode token. Kept as one run of code points, so a long
// record costs four bytes a key, not a string each.
inline constexpr char32_t kTokenKey = 0x110000;

struct TypedRecord {
  std::u32string keys;
  std::vector<std::string> tokens;
  std::optional<KeyRun> prefix, suffix1, suffix2;
  KeyMode keyMode = KeyMode::kAuto;
  // The least gap after each key, whatever the delay list says: for a
  // program that loses keys typed faster.
  int paceMs = 0;
  // Each character of the text one key, the lists' prefix and suffixes.
  static TypedRecord Of(std::string_view utf8);
  void AddToken(std::string token);
  // What SendKeyTokens gets for key k.
  std::string Token(char32_t k) const;
  bool operator==(const TypedRecord&) const = default;
};

class KeystrokeOutput {
 public:
  KeystrokeOutput(IControls& controls, IEventPump& pump, const IClock& clock, IKeySender& keys)
      : c_(controls), pump_(pump), clock_(clock), keys_(keys) {}

  // Types nothing unless the controls say records are typed (read once per record).
  TypeOutcome inviarecord(std::string_view typedText);
  TypeOutcome TypeRecord(const TypedRecord& record);
  // The same in two parts, so that what the characters made of the field can
  // be read back before a suffix key (Tab, Enter) moves the focus or sends
  // the field off. The caller has read the window state already. After
  // TypeText has typed, the record is open until TypeSuffixes or EndRecord.
  TypeOutcome TypeText(const TypedRecord& record);      // prefix and characters
  TypeOutcome TypeSuffixes(const TypedRecord& record);  // suffix 1 and suffix 2
  void EndRecord() { End(); }                           // no suffix after all
  // The keys of the prefix and of each suffix, as this record would type them.
  KeyRun Prefix(const TypedRecord& record) const { return RunFor(kPrefixKeyList, kPrefixCountList, record.prefix); }
  // Every key of the record, prefix and suffixes included, can be typed.
  bool CanType(const TypedRecord& record);
  // Empty when keys can go now; else why not.
  std::string WhyNotReady() { return keys_.WhyNotReady(); }
  // The delay list's choice, in milliseconds.
  int CharDelayMs() const;
  void inviaprefix();
  void inviachar(const std::string& prova);
  void inviaterm1();
  void inviaterm2();

 private:
  void SendRepeated(Ctl keyList, Ctl repeatList, const std::optional<KeyRun>& instead);
  // The key and count a prefix or suffix types: the rules' or the lists'.
  KeyRun RunFor(Ctl keyList, Ctl repeatList, const std::optional<KeyRun>& instead) const;
  void SendKeys(const TypedRecord& record);
  // Each token of the record once, prefix and suffixes included.
  std::vector<std::string> DistinctTokens(const TypedRecord& record) const;
  // Waits, processing events, until the way of typing has readied the keys
  // for the record; false when it cannot.
  bool ReadyKeys(const TypedRecord& record);
  // False once the system has refused a key of this record: nothing more goes.
  bool Send(std::string_view token);
  // justProcessed: events were processed right after the key.
  void DelayAfterKey(bool justProcessed = false);
  // Waits until the keys sent so far are out; a refusal ends the record.
  void FlushKeys();
  // Readies the way of typing for the record's keys; false when it cannot.
  bool Begin(const TypedRecord& record);
  // Every key out, no modifier left down.
  TypeOutcome End();

  IControls& c_;
  IEventPump& pump_;
  const IClock& clock_;
  IKeySender& keys_;
  bool refused_ = false;
  bool unflushed_ = false;  // keys sent since the last Flush
  int paceMs_ = 0;
};

}  // namespace tarvik
