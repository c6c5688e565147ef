// The rules in force: read from the rules file at start and again whenever
// it has changed, applied to each record, with the memory of the last typed
// record that repeat_ms needs. A file with lines that cannot be used is
// applied without them; the log names each, and the user hears once per
// change of the file.
#pragma once
#include <chrono>
#include <optional>
#include <string>

#include "core/diagnostics.h"
#include "core/watched_file.h"
#include "keys/key_reach.h"
#include "shape/rules.h"

namespace tarvik {

class IClock;
class INotice;

class RecordRules {
 public:
  RecordRules(IWatchedFile& file, INotice& notice, const IClock& clock, IDiagnostics& diag = NoLog())
      : file_(file), notice_(notice), clock_(clock), diag_(diag) {}

  // Reads the file again when its stamp has changed since the last look.
  void Refresh();
  const Rules& Current() const { return rules_; }
  // Whether records go through the rules at all: a file without rules
  // leaves everything as it is without one.
  bool Active() const { return !rules_.Empty(); }
  // Sections that depend on the window in front.
  bool NeedsTarget() const { return !rules_.sections.empty(); }

  RuledRecord Apply(std::u32string_view text, const KeyTarget& target) const;
  // The same text as the last typed record, within the record's repeat_ms
  // of the moment that one was typed.
  bool IsRepeat(const RuledRecord& record) const;
  // The record was typed now.
  void Typed(const RuledRecord& record);

  // Creates the file from the commented template when there is none; false
  // with the reason when it could not be made.
  bool PrepareForEditing(std::string_view lineEnd, std::string& why);
  std::string Describe() const { return file_.Describe(); }

 private:
  IWatchedFile& file_;
  INotice& notice_;
  const IClock& clock_;
  IDiagnostics& diag_;
  Rules rules_;
  std::optional<std::string> stamp_;  // nothing before the first look
  std::string unreadable_;            // the reason last logged, so it is logged once
  std::u32string lastTyped_;
  std::optional<std::chrono::microseconds> lastTypedAt_;
};

}  // namespace tarvik
