// The road of one record, from the line received to the reader's answer.
// The reader hears "F" only once the keys are out and the field they went to
// holds what was scanned, or cannot be read: a good read means delivered.

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/utf8.h"
#include "link/reader_commands.h"
#include "shape/record_rules.h"
#include "wedge/record_reception.h"

namespace tarvik {

namespace {

// The reader hears "F" this long after its beep.
constexpr int kBeforeFeedbackMs = 100;

// The program the keys went to, as the user knows it.
std::string ProgramName(const KeyTarget& target) {
  if (!target.program.empty()) return target.program.substr(target.program.find_last_of("/\\") + 1);
  if (!target.processName.empty()) return target.processName;
  if (!target.title.empty()) return "\"" + target.title + "\"";
  return "the window in front";
}

// What reading the field back cost the record, for the log.
std::string CheckCost(const DeliveryVerdict& v) {
  if (v.reads == 0) return {};
  char text[96];
  std::snprintf(text, sizeof text, " (%d reads in %.2f ms; %.2f ms after the last key)", v.reads,
                v.reading.count() / 1000.0, v.settled.count() / 1000.0);
  return text;
}

}  // namespace

void RecordReception::HandleRecord(const std::u32string& text, const std::u32string& typed) {
  Scan scan;
  scan.text = text;
  scan.typed = typed;
  if (!Decide(scan) || !Shape(scan)) return;
  if (scan.typing && !scan.skipped) {
    if (!TypeCharacters(scan) || !Check(scan) || !TypeSuffixes(scan)) return;
  }
  Answer(scan);
}

bool RecordReception::Decide(Scan& scan) {
  // The log gets its length and what became of it, never its characters:
  // barcodes can carry personal data.
  scan.logged = "Record of " + std::to_string(scan.text.size()) + " characters";
  // A record whose keys the system would drop is not typed, not answered,
  // and the user hears of it at once. It is not typed later on its own.
  scan.typing = p_.controls.TypesRecords();
  if (scan.typing || p_.rules.NeedsTarget()) scan.target = p_.target.Query();
  if (!scan.typing) return true;
  const Reach reach = ReachNow(scan.target);
  if (!reach.ok()) Refuse(scan.logged, reach);
  return reach.ok();
}

bool RecordReception::Shape(Scan& scan) {
  scan.keys = TypedRecord::Of(EncodeUtf8(scan.typed));
  scan.ruled = p_.rules.Active();
  if (scan.ruled) {
    RuledRecord& r = scan.ruling = p_.rules.Apply(scan.typed, scan.target);
    scan.logged += " (" + r.section + (r.changed ? ", changed by the rules" : "") + ")";
    switch (r.outcome) {
      case RuledRecord::Outcome::kStopped: {
        const std::string why = "the rule on line " + std::to_string(r.ruleLine) + " of " + p_.rules.Describe() +
                                " could not finish on it";
        // Shown only, it would not be typed anyway: answered as such a record is.
        if (!scan.typing) {
          scan.logged += ": shown only (the window is not in the tray); " + why;
          scan.skipped = true;
          return true;
        }
        p_.diag.Event(scan.logged + ": not typed: " + why);
        p_.notice.Warn("A scan was not typed: " + why + ".");
        return false;
      }
      case RuledRecord::Outcome::kSkip:
        scan.logged += ": not typed: skipped by the rule on line " + std::to_string(r.ruleLine);
        scan.skipped = true;
        return true;
      case RuledRecord::Outcome::kType:
        if (p_.rules.IsRepeat(r)) {
          scan.logged += ": not typed: the same as the last typed record, within " + std::to_string(r.repeatMs) + " ms";
          scan.skipped = true;
          return true;
        }
        scan.keys = r.keys;
        break;
    }
  }
  if (!scan.typing) return true;
  // Keys the way of typing cannot produce would be dropped, and the target
  // would get another record than the one scanned.
  if (!p_.output.CanType(scan.keys)) {
    Refuse(scan.logged, {Unreachable::kUntypeable, {}});
    return false;
  }
  scan.keys.paceMs = std::max(scan.keys.paceMs, paces_.For(ProgramName(scan.target)));
  return true;
}

bool RecordReception::TypeCharacters(Scan& scan) {
  // Only a record of characters alone can be read back: a brace key, a
  // control character or a prefix may move the caret or the focus.
  const bool verify = !scan.ruled || scan.ruling.verify;
  if (verify) scan.sent = InsertedText(scan.keys, p_.output.Prefix(scan.keys).count > 0);
  if (scan.sent) check_.Before();
  if (p_.output.TypeText(scan.keys) == TypeOutcome::kTyped) return true;
  p_.diag.Event(scan.logged + ": typed in part: " + std::string(UnreachableReason(Unreachable::kRefused)));
  p_.notice.Warn(UnreachableMessage({Unreachable::kRefused, {}}));
  return false;
}

bool RecordReception::Check(Scan& scan) {
  if (!scan.sent) {
    scan.verdict.why = scan.ruled && !scan.ruling.verify ? "verify = off" : "keys other than characters";
    return true;
  }
  scan.verdict = check_.After(*scan.sent);
  if (scan.verdict.outcome != Delivery::kDifferent) return true;
  p_.output.EndRecord();
  // The suffix (Enter, Tab) would send off a field that holds something else
  // than was scanned: the user sees what arrived and scans again.
  const std::string program = ProgramName(scan.target);
  const int used = std::max(p_.output.CharDelayMs(), scan.keys.paceMs);
  const int pace = paces_.Raise(program, used);
  p_.diag.Event(scan.logged + ": arrived wrong in " + program + ", " + scan.verdict.Describe() + CheckCost(scan.verdict) +
                "; no suffix typed; the reader was not told the read was good; keys to " + program + " now go " +
                std::to_string(pace) + " ms apart" + (pace == used ? " already, the most" : ""));
  p_.notice.Warn("A scan arrived wrong in " + program + ": scan it again.");
  return false;
}

bool RecordReception::TypeSuffixes(Scan& scan) {
  if (p_.output.TypeSuffixes(scan.keys) == TypeOutcome::kTyped) return true;
  p_.diag.Event(scan.logged + ": typed in part: " + std::string(UnreachableReason(Unreachable::kRefused)));
  p_.notice.Warn(UnreachableMessage({Unreachable::kRefused, {}}));
  return false;
}

void RecordReception::Answer(Scan& scan) {
  if (p_.controls.CheckValue(kBeepBox) == 1) p_.sound.PlayFile(p_.programFile("beep1.wav"));
  if (p_.controls.CheckValue(kFeedbackBox) == 1) {
    Pause(p_.pump, p_.clock, kBeforeFeedbackMs);
    p_.commands.SendFeedback();
  }
  if (scan.skipped) {
    p_.diag.Event(scan.logged);
    return;
  }
  if (!scan.typing) {
    p_.diag.Event(scan.logged + ": shown only (the window is not in the tray)");
    return;
  }
  if (scan.ruled) p_.rules.Typed(scan.ruling);
  p_.diag.Event(scan.logged + ": typed; " + scan.verdict.Describe() + CheckCost(scan.verdict));
  p_.notice.Typed();
}

Reach RecordReception::ReachNow(const KeyTarget& target) {
  Reach reach = DecideReach(target);
  // The way of typing itself may not be ready: a desktop that has not given
  // its consent yet, or has refused it, drops the keys.
  if (reach.ok()) {
    if (std::string why = p_.output.WhyNotReady(); !why.empty())
      reach = {Unreachable::kNotAllowed, {}, std::move(why)};
  }
  return reach;
}

void RecordReception::Refuse(const std::string& logged, const Reach& reach) {
  p_.diag.Event(logged + ": not typed: " + std::string(UnreachableReason(reach.why)) +
                (reach.program.empty() ? "" : " (" + reach.program + ")") +
                (reach.detail.empty() ? "" : ": " + reach.detail));
  p_.notice.Warn(UnreachableMessage(reach));
}

}  // namespace tarvik
