// Whether a record's characters arrived in the focused field as they were
// sent: the field is read before the first key and again after the last
// character, and what it holds is compared with what it should hold.
#pragma once
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/field_reader.h"

namespace tarvik {

class IEventPump;
class IClock;
struct TypedRecord;

enum class Delivery {
  kDelivered,   // the field holds what it should
  kDifferent,   // characters lost, doubled, reordered or of another case or kind
  kCannotTell,  // nothing readable, or a field that changes what it gets
};

struct DeliveryVerdict {
  Delivery outcome = Delivery::kCannotTell;
  // kDifferent: what was sent and what arrived, counted; never the characters.
  std::size_t sent = 0, arrived = 0;
  std::size_t lost = 0, extra = 0, wrongCase = 0, wrongCharacter = 0;
  std::string why;  // kCannotTell: why not, in a few words
  // What the check cost: reads of the field, the time spent in them, and
  // the time from the last character to the verdict.
  int reads = 0;
  std::chrono::microseconds reading{0}, settled{0};
  // For the log: "3 of 200 characters lost, 1 extra" or why it cannot tell.
  std::string Describe() const;
};

// What a record's characters insert into a field, where they only insert:
// none where a key of it does more (a brace key, Tab, Enter, a control
// character), and none where a prefix key comes first (it may move the caret).
std::optional<std::u32string> InsertedText(const TypedRecord& record, bool hasPrefix);

// `before` with `sent` typed at its caret, replacing its selection, against
// `after`. Only the part between the text before the selection and the text
// after it is judged: a field that changed elsewhere changed on its own.
DeliveryVerdict CompareField(const FieldText& before, std::u32string_view sent, const FieldText& after);

// Each read waits this long at most for the application's answer.
inline constexpr std::chrono::milliseconds kFieldAnswerLimit{50};
// After the last key the field is read until it holds what it should, or
// has stayed the same this long (the application has taken what it got)...
inline constexpr std::chrono::milliseconds kFieldQuietMs{250};
// ...or this long has passed since the last key: then it cannot tell.
inline constexpr std::chrono::milliseconds kFieldCheckLimit{3000};

class DeliveryCheck {
 public:
  DeliveryCheck(IFieldReader& reader, IEventPump& pump, const IClock& clock)
      : reader_(reader), pump_(pump), clock_(clock) {}

  // Right before the record's first key: the field as it is.
  void Before();
  // After its characters went out: reads the field until it holds the text
  // with `sent` inserted, or stops changing. Processes events while it waits.
  DeliveryVerdict After(std::u32string_view sent);

 private:
  IFieldReader& reader_;
  IEventPump& pump_;
  const IClock& clock_;
  // Reads the field, counting the read and its time into `v`.
  FieldReading Read(DeliveryVerdict& v);

  FieldReading before_;
  std::chrono::microseconds beforeAt_{0};
  int beforeReads_ = 0;
  std::chrono::microseconds beforeTook_{0};
};

}  // namespace tarvik
