#include "shape/record_rules.h"

#include "core/dialogs.h"
#include "core/event_pump.h"

namespace tarvik {

void RecordRules::Refresh() {
  const std::string stamp = file_.Stamp();
  if (stamp_ && *stamp_ == stamp) return;
  const std::string where = file_.Describe();
  if (stamp.empty()) {
    if (stamp_ && !stamp_->empty()) diag_.Event("Rules: " + where + " is gone: scans are typed without rules");
    else if (!stamp_) diag_.Event("Rules: no " + where + ": scans are typed without rules");
    rules_ = {};
    stamp_ = stamp;
    return;
  }
  std::string why;
  const auto bytes = file_.Read(kRulesFileLimit, why);
  if (!bytes) {
    // An editor may hold the file while it saves: the old rules stay and
    // the next look tries again.
    if (why != unreadable_) {
      diag_.Event("Rules: " + where + " could not be read (" + why + "): the rules before stay");
      notice_.Warn("Tarvik could not read " + where + " (" + why + "). The rules before stay in force.");
    }
    unreadable_ = why;
    return;
  }
  unreadable_.clear();
  // Saved again while we read: what we have may be half of it, so the next
  // look reads it once more.
  stamp_ = file_.Stamp() == stamp ? stamp : std::string("(changed while read)");
  Rules read = ParseRules(*bytes);
  if (read.refused) {
    const std::string at = "line " + std::to_string(read.refused->line) + ": " + read.refused->why;
    diag_.Event("Rules: " + where + " refused at " + at + ": the rules before stay");
    notice_.Warn("Tarvik does not use " + where + " (" + at + "). The rules before stay in force.");
    return;
  }
  rules_ = std::move(read);
  const std::size_t sections = rules_.sections.size();
  diag_.Event("Rules: " + where + " read: lines " +
              (rules_.lines == LineMode::kPlain ? "plain" : "classic") + ", " +
              std::to_string(sections) + (sections == 1 ? " section" : " sections") +
              " by program or title" + (rules_.Empty() ? ", no rule in force" : ""));
  for (const auto& p : rules_.problems)
    diag_.Event("Rules: " + where + " line " + std::to_string(p.line) + " skipped: " + p.why);
  if (!rules_.problems.empty()) {
    const auto& first = rules_.problems.front();
    notice_.Warn(std::to_string(rules_.problems.size()) + " line" +
                 (rules_.problems.size() == 1 ? "" : "s") + " of " + where +
                 " cannot be used and " + (rules_.problems.size() == 1 ? "is" : "are") +
                 " skipped; the rest applies. Line " + std::to_string(first.line) + ": " +
                 first.why + ".");
  }
}

RuledRecord RecordRules::Apply(std::u32string_view text, const KeyTarget& target) const {
  return ApplyRules(rules_, text, {target.program, target.title, target.processName});
}

bool RecordRules::IsRepeat(const RuledRecord& record) const {
  if (record.repeatMs <= 0 || !lastTypedAt_ || record.text != lastTyped_) return false;
  return clock_.Monotonic() - *lastTypedAt_ < std::chrono::milliseconds(record.repeatMs);
}

void RecordRules::Typed(const RuledRecord& record) {
  lastTyped_ = record.text;
  lastTypedAt_ = clock_.Monotonic();
}

bool RecordRules::PrepareForEditing(std::string_view lineEnd, std::string& why) {
  return file_.CreateIfMissing(RulesTemplate(lineEnd), why);
}

}  // namespace tarvik
