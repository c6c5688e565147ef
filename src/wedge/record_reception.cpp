#include "wedge/record_reception.h"

#include <algorithm>
#include <string>
#include <utility>

#include "link/reader_commands.h"
#include "link/wireless.h"
#include "core/scoped_flag.h"
#include "core/utf8.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/services.h"
#include "keys/key_reach.h"
#include "keys/keystroke_output.h"
#include "shape/record_rules.h"

namespace tarvik {

// The reader hears "F" this long after the line, once its own beep is done.
constexpr int kBeforeFeedbackMs = 100;

namespace {

constexpr std::uint8_t kLf = 0x0A, kCr = 0x0D;

bool EndsLine(std::uint8_t b, LineMode mode) {
  return b == kLf || (mode == LineMode::kPlain && b == kCr);
}

}  // namespace

void RecordReception::Append(const std::vector<std::uint8_t>& bytes, LineMode mode) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  if (buffer_.size() <= p_.limit) return;
  const auto lastEnd = std::find_if(buffer_.rbegin(), buffer_.rend(),
                                    [mode](std::uint8_t b) { return EndsLine(b, mode); });
  // Only the unfinished tail can be too long: complete lines are handled.
  const std::size_t tailStart = static_cast<std::size_t>(buffer_.rend() - lastEnd);
  const std::size_t tail = buffer_.size() - tailStart;
  if (tail <= p_.limit) return;
  buffer_.erase(buffer_.begin() + static_cast<std::ptrdiff_t>(tailStart),
                buffer_.begin() + static_cast<std::ptrdiff_t>(buffer_.size() - p_.limit));
  p_.library.ReportResult(wcl::kBufferOverflow);
  if (!std::exchange(overflowing_, true))
    p_.diag.Event("A line without end passed " + std::to_string(p_.limit) +
                  " bytes: its oldest bytes are dropped");
}

void RecordReception::wclClient_OnData(std::vector<std::uint8_t> chunk) {
  p_.timer3.SetEnabled(false);
  // A rules file saved since the last chunk applies from this chunk's lines on.
  p_.rules.Refresh();
  Append(chunk, p_.rules.Current().lines);
  // An event that arrives while an earlier one waits (sound, feedback,
  // typing) only adds its bytes: the running handler takes its lines in
  // turn, so no two lines interleave and the order holds.
  if (busy_) return;
  ScopedFlag busy(busy_);

  for (;;) {
    const LineMode mode = p_.rules.Current().lines;
    const auto end = std::find_if(buffer_.begin(), buffer_.end(),
                                  [mode](std::uint8_t b) { return EndsLine(b, mode); });
    if (end == buffer_.end()) break;
    std::vector<std::uint8_t> line(buffer_.begin(), end);
    buffer_.erase(buffer_.begin(), end + 1);
    overflowing_ = false;
    HandleLine(line, mode);
    if (p_.pump.QuitRequested()) return;
  }
  p_.timer3.SetEnabled(true);
  p_.commands.ArmInactivityDeadline();
}

void RecordReception::HandleLine(const std::vector<std::uint8_t>& lineBytes, LineMode mode) {
  std::u32string text = DecodeUtf8(p_.decoder.Decode(lineBytes));
  std::u32string typed;
  if (mode == LineMode::kClassic) {
    // The character before the line feed is the reader's carriage return.
    // With fewer than two characters there is no record to type: a lone
    // line feed, or CR LF alone, is passed over.
    if (text.size() < 2) return;
    text.pop_back();
    typed = text.substr(0, text.size() - 1);
  } else {
    // The terminator is gone already. An empty line is passed over: so the
    // LF of a CR LF ends no second line, in whichever chunk it comes.
    if (text.empty()) return;
    typed = text;
  }
  HandleRecord(text, typed);
  // Shown once the record has been dealt with: setting a caption costs the
  // first key a visit to the window system, and no key depends on it.
  p_.controls.SetCaption(kLastLineLabel, EncodeUtf8(text));
}

void RecordReception::HandleRecord(const std::u32string& text, const std::u32string& typed) {
  // The log gets its length and what became of it, never its characters:
  // barcodes can carry personal data.
  std::string logged = "Record of " + std::to_string(text.size()) + " characters";

  // Where the record would be typed, its keys must be able to reach the
  // target before the reader is told the read went through: a record the
  // system would drop gets no sound of success and no "F", and the user
  // hears of it at once. It is not typed later on its own.
  const bool typing = p_.controls.TypesRecords();
  const bool ruled = p_.rules.Active();
  KeyTarget target;
  if (typing || p_.rules.NeedsTarget()) target = p_.target.Query();
  if (typing) {
    if (const Reach reach = ReachNow(target); !reach.ok()) return Refuse(logged, reach);
  }
  TypedRecord keys = TypedRecord::Of(EncodeUtf8(typed));
  RuledRecord ruling;
  bool skipped = false;
  if (ruled) {
    ruling = p_.rules.Apply(typed, target);
    logged += " (" + ruling.section + (ruling.changed ? ", changed by the rules" : "") + ")";
    switch (ruling.outcome) {
      case RuledRecord::Outcome::kStopped: {
        const std::string why = "the rule on line " + std::to_string(ruling.ruleLine) + " of " +
                                p_.rules.Describe() + " could not finish on it";
        // Shown only, it would not be typed anyway: answered as such a record is.
        if (!typing) {
          logged += ": shown only (the window is not in the tray); " + why;
          skipped = true;
          break;
        }
        p_.diag.Event(logged + ": not typed: " + why);
        p_.notice.Warn("A scan was not typed: " + why + ".");
        return;
      }
      case RuledRecord::Outcome::kSkip:
        logged += ": not typed: skipped by the rule on line " + std::to_string(ruling.ruleLine);
        skipped = true;
        break;
      case RuledRecord::Outcome::kType:
        if (p_.rules.IsRepeat(ruling)) {
          logged += ": not typed: the same as the last typed record, within " +
                    std::to_string(ruling.repeatMs) + " ms";
          skipped = true;
        }
        keys = ruling.keys;
        break;
    }
  }
  // Keys the way of typing cannot produce would be dropped, and the target
  // would get another record than the one scanned.
  if (typing && !skipped && !p_.output.CanType(keys)) return Refuse(logged, {Unreachable::kUntypeable, {}});
  const bool beep = p_.controls.CheckValue(kBeepBox) == 1;
  const bool feedback = p_.controls.CheckValue(kFeedbackBox) == 1;
  if (beep) p_.sound.PlayFile(p_.programFile("beep1.wav"));
  if (feedback) {
    Pause(p_.pump, p_.clock, kBeforeFeedbackMs);
    p_.commands.SendFeedback();
  }
  if (skipped) {
    p_.diag.Event(logged);
    return;
  }
  // The sound and the reader's answer take a few hundred milliseconds (a
  // missing beep1.wav plays the system's longer default sound), in which a
  // lock, a UAC prompt or an elevated window can come to the front and take
  // the keys in silence. So the decision is made again as the last thing
  // before the first key; what it rests on that cannot change is kept by the
  // target, so asking again costs the key next to nothing. The way of
  // typing was asked already: asking it again (on GNOME, a read of the input
  // source in use) would only lengthen the gap.
  if (typing && (beep || feedback)) {
    const std::string told = feedback ? " The reader had been told the read was good." : "";
    const KeyTarget now = p_.target.Query();
    if (const Reach again = DecideReach(now); !again.ok())
      return Refuse(logged + " (asked again before the first key)", again, told);
    // The rules chose their section for the window in front then: another
    // window that came to the front may be one they format records for otherwise.
    const bool otherWindow =
        now.program != target.program || now.processName != target.processName || now.title != target.title;
    if (ruled && otherWindow && p_.rules.Apply(typed, now).section != ruling.section) {
      p_.diag.Event(logged + " (asked again before the first key): not typed: another window came to the "
                             "front, for which the rules choose another section");
      p_.notice.Warn("A scan was not typed: another window came to the front, and the rules treat it otherwise." +
                     told);
      return;
    }
  }
  logged += ": ";
  switch (p_.output.TypeRecord(keys)) {
    case TypeOutcome::kTyped:
      if (ruled) p_.rules.Typed(ruling);
      p_.diag.Event(logged + "typed");
      p_.notice.Typed();
      break;
    case TypeOutcome::kShownOnly:
      p_.diag.Event(logged + "shown only (the window is not in the tray)");
      break;
    case TypeOutcome::kRefused:
      p_.diag.Event(logged + "typed in part: " + std::string(UnreachableReason(Unreachable::kRefused)));
      p_.notice.Warn(UnreachableMessage({Unreachable::kRefused, {}}));
      break;
  }
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

void RecordReception::Refuse(const std::string& logged, const Reach& reach, const std::string& toldAlso) {
  p_.diag.Event(logged + ": not typed: " + std::string(UnreachableReason(reach.why)) +
                (reach.program.empty() ? "" : " (" + reach.program + ")") +
                (reach.detail.empty() ? "" : ": " + reach.detail));
  p_.notice.Warn(UnreachableMessage(reach) + toldAlso);
}

}  // namespace tarvik
