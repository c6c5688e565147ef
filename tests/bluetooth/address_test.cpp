#include "bluetooth/address.h"

#include <gtest/gtest.h>

#include "bluetooth/address_walk.h"
#include "bluetooth/wireless.h"
#include "bluetooth/write_queue.h"

namespace tarvik {
namespace {

TEST(Address, TheTextPicksTheTransport) {
  const std::pair<const char*, ReaderAddress> good[] = {
      {"00:1A:7D:DA:71:13", BluetoothAddress{0x001A7DDA7113}}, {"001a7dda7113", BluetoothAddress{0x001A7DDA7113}},
      {" COM5 ", SerialAddress{5, 9600}}, {"com12:115200", SerialAddress{12, 115200}},
      {"COM3:9600:RtsCts", SerialAddress{3, 9600, FlowControl::kRtsCts}},
      {"COM3:19200:xonxoff", SerialAddress{3, 19200, FlowControl::kXonXoff}},
      {"/dev/ttyUSB0", SerialAddress{0, 9600, FlowControl::kNone, "/dev/ttyUSB0"}},
      {" /dev/ttyACM0:115200 ", SerialAddress{0, 115200, FlowControl::kNone, "/dev/ttyACM0"}},
      {"/dev/rfcomm0:9600:XonXoff", SerialAddress{0, 9600, FlowControl::kXonXoff, "/dev/rfcomm0"}},
      {"tcp://127.0.0.1:5000", TcpAddress{"127.0.0.1", 5000}}, {"TCP://[::1]:7", TcpAddress{"::1", 7}},
      {"tcp://reader.local:23", TcpAddress{"reader.local", 23}},
  };
  for (const auto& [text, address] : good) EXPECT_EQ(ParseReaderAddress(text), address) << text;
  for (auto bad : {"", "()", "00:1A:7D:DA:71", "00:1A:7D:DA:71:1G", "001A7DDA71133", "COM", "COM0", "COM5:",
                   "COM5:fast", "COM5:9600:", "COM5:9600:dtr", "COMX", "/", "/:9600", "/dev/ttyS0:", "/dev/ttyS0:0",
                   "/dev/ttyS0:9600:dtr", "dev/ttyS0", "hello", "tcp://host", "tcp://host:0", "tcp://host:99999", "tcp://:80"})
    EXPECT_FALSE(ParseReaderAddress(bad)) << bad;
}

TEST(Address, FormattingParenthesesAndTheServiceGuid) {
  EXPECT_EQ(FormatBluetoothAddress(0x001A7DDA7113), "00:1A:7D:DA:71:13");
  EXPECT_EQ(StripParentheses("(COM5)"), "COM5");
  EXPECT_EQ(StripParentheses("COM5"), "COM5");
  const auto g = ParseGuid("{00001101-0000-1000-8000-00805F9B34FB}");
  ASSERT_TRUE(g);
  EXPECT_EQ(std::tie(g->data1, g->data2, g->data3), std::make_tuple(0x00001101u, 0x0000, 0x1000));
  EXPECT_EQ(std::vector<std::uint8_t>(g->data4, g->data4 + 8),
            (std::vector<std::uint8_t>{0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}));
  EXPECT_EQ(ParseGuid("00001101-0000-1000-8000-00805f9b34fb"), g);
  EXPECT_FALSE(ParseGuid("{00001101-0000-1000-8000-00805F9B34F}"));
  EXPECT_FALSE(ParseGuid("{00001101+0000-1000-8000-00805F9B34FB}"));
}

// A socket that takes at most `room` bytes until given more, or fails.
struct Sink : ILinkSink {
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

TEST(WriteQueue, BytesWaitInOrderAcrossPartialSendsAndGoWithTheLink) {
  Sink sink;
  WriteQueue q;
  sink.room = 1;
  EXPECT_EQ(q.Write(B("FB"), sink), 0);
  EXPECT_EQ(q.Write(B("\x7C\x1E\x0D"), sink), 0);
  EXPECT_EQ(q.Waiting(), 4u);
  sink.room = 2;
  EXPECT_EQ(q.Resume(sink), 0);
  EXPECT_EQ(q.Write(B("S"), sink), 0);
  sink.room = 100;
  EXPECT_EQ(q.Resume(sink), 0);
  EXPECT_EQ(sink.got, B("FB\x7C\x1E\x0DS"));
  EXPECT_EQ(q.Waiting(), 0u);
  sink.room = 0;  // a write fails only when the link fails, and the dead link's bytes go
  sink.got.clear();
  EXPECT_EQ(q.Write(B("F"), sink), 0);
  sink.error = 10054;
  EXPECT_EQ(q.Write(B("F"), sink), 10054);
  EXPECT_EQ(q.Waiting(), 0u);
  sink.error = 0;  // a reader that never takes anything: a failure, not a leak
  EXPECT_EQ(q.Write(std::vector<std::uint8_t>(WriteQueue::kMaxWaiting, 'x'), sink), 0);
  EXPECT_EQ(q.Write(B("F"), sink), wcl::kBufferOverflow);
  sink.room = 10;
  EXPECT_EQ(q.Write(B("F"), sink), 0);
  EXPECT_EQ(sink.got, B("F"));
}

// Every address in order until one is under way; failure only when all have
// failed, with the last one's error.
TEST(AddressWalk, EveryAddressInOrder) {
  struct Case {
    std::vector<std::int32_t> startErrors, outcomes;  // outcomes of those under way (0: open)
    std::vector<std::size_t> tried;
    std::int32_t result;
  };
  const Case cases[] = {
      {{0, 0, 0}, {0}, {0}, 0}, {{0, 0, 0}, {10061, 10060, 0}, {0, 1, 2}, 0}, {{10047, 0}, {0}, {0, 1}, 0},
      {{0, 10047, 0}, {10061, 10061}, {0, 1, 2}, 10061}, {{10047, 10047}, {}, {0, 1}, 10047}, {{}, {}, {}, 11001},
  };
  for (const auto& c : cases) {
    std::vector<std::size_t> tried;
    AddressWalk walk(c.startErrors.size(), [&](std::size_t i) { return tried.push_back(i), c.startErrors[i]; });
    std::int32_t r = walk.Begin(11001);
    for (std::size_t k = 0; r == 0 && k < c.outcomes.size() && c.outcomes[k] != 0; ++k)
      r = walk.Failed(c.outcomes[k]);
    EXPECT_EQ(tried, c.tried);
    EXPECT_EQ(r, c.result);
  }
}

}  // namespace
}  // namespace tarvik
