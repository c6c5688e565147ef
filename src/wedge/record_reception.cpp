#include "wedge/record_reception.h"

#include <algorithm>
#include <string>
#include <utility>

#include "bluetooth/reader_commands.h"
#include "bluetooth/wireless.h"
#include "core/scoped_flag.h"
#include "core/utf8.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/services.h"
#include "wedge/key_reach.h"
#include "wedge/keystroke_output.h"

namespace tarvik {

// The reader hears "F" this long after the line, once its own beep is done.
constexpr int kBeforeFeedbackMs = 100;

void RecordReception::Append(const std::vector<std::uint8_t>& bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  if (buffer_.size() <= p_.limit) return;
  const auto lastFeed = std::find(buffer_.rbegin(), buffer_.rend(), std::uint8_t{0x0A});
  // Only the unfinished tail can be too long: complete lines are handled.
  const std::size_t tailStart = static_cast<std::size_t>(buffer_.rend() - lastFeed);
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
  Append(chunk);
  // An event that arrives while an earlier one waits (sound, feedback,
  // typing) only adds its bytes: the running handler takes its lines in
  // turn, so no two lines interleave and the order holds.
  if (busy_) return;
  ScopedFlag busy(busy_);

  for (;;) {
    const auto feed = std::find(buffer_.begin(), buffer_.end(), std::uint8_t{0x0A});
    if (feed == buffer_.end()) break;
    std::vector<std::uint8_t> line(buffer_.begin(), feed);
    buffer_.erase(buffer_.begin(), feed + 1);
    overflowing_ = false;
    HandleLine(line);
    if (p_.pump.QuitRequested()) return;
  }
  p_.timer3.SetEnabled(true);
  p_.commands.ArmInactivityDeadline();
}

void RecordReception::HandleLine(const std::vector<std::uint8_t>& lineBytes) {
  // The character before the line feed is the reader's carriage return.
  // With fewer than two characters there is no record to type: a lone line
  // feed, or CR LF alone, is passed over.
  std::u32string text = DecodeUtf8(p_.decoder.Decode(lineBytes));
  if (text.size() < 2) return;
  text.pop_back();
  const std::string record = EncodeUtf8(text);
  // The log gets its length and what became of it, never its characters:
  // barcodes can carry personal data.
  const std::string logged = "Record of " + std::to_string(text.size()) + " characters: ";
  text.pop_back();
  const std::string typedText = EncodeUtf8(text);

  p_.controls.SetCaption(kLastLineLabel, record);
  // Where the record would be typed, its keys must be able to reach the
  // target before the reader is told the read went through: a record the
  // system would drop gets no sound of success and no "F", and the user
  // hears of it at once. It is not typed later on its own.
  if (p_.controls.IsMinimized()) {
    const Reach reach = DecideReach(p_.target.Query());
    if (!reach.ok()) {
      p_.diag.Event(logged + "not typed: " + std::string(UnreachableReason(reach.why)) +
                    (reach.program.empty() ? "" : " (" + reach.program + ")"));
      p_.notice.Warn(UnreachableMessage(reach));
      return;
    }
  }
  if (p_.controls.CheckValue(kBeepBox) == 1) p_.sound.PlayFile(p_.winPath() + "\\beep1.wav");
  if (p_.controls.CheckValue(kFeedbackBox) == 1) {
    Pause(p_.pump, p_.clock, kBeforeFeedbackMs);
    p_.commands.SendFeedback();
  }
  switch (p_.output.inviarecord(typedText)) {
    case TypeOutcome::kTyped:
      p_.diag.Event(logged + "typed");
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

}  // namespace tarvik
