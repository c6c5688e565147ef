#include "bluetooth/write_queue.h"

#include <gtest/gtest.h>

#include "bluetooth/address_walk.h"
#include "bluetooth/wireless.h"

namespace tarvik {
namespace {

// A socket that takes at most `room` bytes until it is given more, and can
// be made to fail.
class Sink : public ILinkSink {
 public:
  Sent Send(std::span<const std::uint8_t> bytes) override {
    if (error) return {0, error};
    const std::size_t n = std::min(room, bytes.size());
    got.insert(got.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    room -= n;
    return {n, 0};
  }
  std::size_t room = 0;
  std::int32_t error = 0;
  std::vector<std::uint8_t> got;
};

std::vector<std::uint8_t> B(std::string_view s) { return {s.begin(), s.end()}; }

TEST(WriteQueue, BytesWaitInOrderAcrossPartialSendsAndGoWhenTheLinkCan) {
  Sink sink;
  WriteQueue q;
  sink.room = 1;
  EXPECT_EQ(q.Write(B("FB"), sink), 0);  // takes "F", "B" waits
  EXPECT_EQ(q.Write(B("\x7C\x1E\x0D"), sink), 0);
  EXPECT_EQ(q.Waiting(), 4u);
  sink.room = 2;
  EXPECT_EQ(q.Resume(sink), 0);
  EXPECT_EQ(q.Write(B("S"), sink), 0);
  sink.room = 100;
  EXPECT_EQ(q.Resume(sink), 0);
  EXPECT_EQ(sink.got, B("FB\x7C\x1E\x0DS"));
  EXPECT_EQ(q.Waiting(), 0u);
}

TEST(WriteQueue, AWriteFailsOnlyWhenTheLinkFails) {
  Sink sink;
  WriteQueue q;
  EXPECT_EQ(q.Write(B("F"), sink), 0);  // full: waits, no failure
  sink.error = 10054;
  EXPECT_EQ(q.Write(B("F"), sink), 10054);
  EXPECT_EQ(q.Waiting(), 0u);  // the dead link's bytes go with it
  // A reader that takes nothing at all, for ever: a failure, not a leak.
  sink.error = 0;
  const std::vector<std::uint8_t> block(WriteQueue::kMaxWaiting, 'x');
  EXPECT_EQ(q.Write(block, sink), 0);
  EXPECT_EQ(q.Write(B("F"), sink), wcl::kBufferOverflow);
  // The next link starts clean.
  sink.room = 10;
  EXPECT_EQ(q.Write(B("F"), sink), 0);
  EXPECT_EQ(sink.got, B("F"));
}

// Every address of a name, in order, until one is under way; the attempt
// fails only when all have failed, with the last one's error.
TEST(AddressWalk, EveryAddressInOrder) {
  struct Case {
    std::vector<std::int32_t> startErrors;  // per address, 0: under way
    std::vector<std::int32_t> outcomes;     // of those under way, in turn (0: open)
    std::vector<std::size_t> tried;
    std::int32_t result;
  };
  const Case cases[] = {
      {{0, 0, 0}, {0}, {0}, 0},                             // the first answers
      {{0, 0, 0}, {10061, 10060, 0}, {0, 1, 2}, 0},         // the last answers
      {{10047, 0}, {0}, {0, 1}, 0},                         // no IPv6 here: on to IPv4
      {{0, 10047, 0}, {10061, 10061}, {0, 1, 2}, 10061},    // every one fails
      {{10047, 10047}, {}, {0, 1}, 10047},                  // none can even start
      {{}, {}, {}, 11001},                                  // no address at all
  };
  for (const auto& c : cases) {
    std::vector<std::size_t> tried;
    AddressWalk walk(c.startErrors.size(), [&](std::size_t i) {
      tried.push_back(i);
      return c.startErrors[i];
    });
    std::int32_t r = walk.Begin(11001);
    for (std::size_t k = 0; r == 0 && k < c.outcomes.size() && c.outcomes[k] != 0; ++k)
      r = walk.Failed(c.outcomes[k]);
    EXPECT_EQ(tried, c.tried);
    EXPECT_EQ(r, c.result);
  }
}

}  // namespace
}  // namespace tarvik
