// Bytes for the reader that its link cannot take yet, kept in order and sent
// as soon as it can. A write fails only when the link fails: a socket that
// "would block" (its buffers are full: a slow reader, a congested network)
// is not a failure, and "F", "B" or "S" must not be lost to it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvik {

// Where the bytes go: a non-blocking socket, or anything that takes as much
// as it can now.
class ILinkSink {
 public:
  struct Sent {
    std::size_t taken = 0;   // bytes taken now (fewer than given: full for the moment)
    std::int32_t error = 0;  // the link failed
  };
  virtual ~ILinkSink() = default;
  virtual Sent Send(std::span<const std::uint8_t> bytes) = 0;
};

class WriteQueue {
 public:
  // More than this waiting means the reader takes nothing at all: the link
  // counts as failed rather than letting memory grow without end.
  static constexpr std::size_t kMaxWaiting = 64 * 1024;

  // Sends what the link takes after what already waits, and keeps the rest.
  // Returns 0, or the error of a link that failed (nothing is kept then).
  std::int32_t Write(std::span<const std::uint8_t> bytes, ILinkSink& sink);
  // The link can take more: sends what waits. 0, or the link's error.
  std::int32_t Resume(ILinkSink& sink);
  // The link is gone: what waited goes with it.
  void Clear();
  std::size_t Waiting() const { return waiting_.size() - sent_; }

 private:
  std::vector<std::uint8_t> waiting_;
  std::size_t sent_ = 0;  // of waiting_, already taken
};

}  // namespace tarvik
