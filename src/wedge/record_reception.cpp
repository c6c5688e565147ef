#include "wedge/record_reception.h"

#include <algorithm>
#include <string>
#include <utility>

#include "link/reader_commands.h"
#include "link/wireless.h"
#include "core/scoped_flag.h"
#include "core/utf8.h"
#include "core/event_pump.h"
#include "shape/record_rules.h"

namespace tarvik {

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

}  // namespace tarvik
