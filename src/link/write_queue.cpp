#include "link/write_queue.h"

#include <algorithm>

#include "link/wireless.h"

namespace tarvik {

std::int32_t WriteQueue::Write(std::span<const std::uint8_t> bytes, ILinkSink& sink) {
  if (Waiting() + bytes.size() > kMaxWaiting) {
    Clear();
    return wcl::kBufferOverflow;
  }
  waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
  return Resume(sink);
}

std::int32_t WriteQueue::Resume(ILinkSink& sink) {
  while (Waiting() > 0) {
    const ILinkSink::Sent r = sink.Send(std::span(waiting_).subspan(sent_));
    if (r.error != 0) {
      Clear();
      return r.error;
    }
    if (r.taken == 0) break;  // full for now: the rest goes when the link says it can
    sent_ += std::min(r.taken, Waiting());
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(sent_));
  sent_ = 0;
  return 0;
}

void WriteQueue::Clear() {
  waiting_.clear();
  sent_ = 0;
}

}  // namespace tarvik
