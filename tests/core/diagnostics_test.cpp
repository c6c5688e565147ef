#include "core/diagnostics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "core/event_pump.h"
#include "fakes/fake_pump.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakePump;

// The current file and the one before, in memory; appends can fail or hang.
struct MemoryLogFiles : ILogFiles {
  std::uint64_t CurrentSize() override { return current.size(); }
  bool Append(std::string_view bytes) override {
    if (hang.valid() && !stuck.exchange(true)) entered.set_value();
    if (hang.valid()) hang.wait();
    if (!failAppends) current += bytes;
    return !failAppends;
  }
  bool Rotate() override {
    if (!failRotate) previous = std::exchange(current, {}), ++rotations;
    return !failRotate;
  }
  std::string current, previous;
  int rotations = 0;
  bool failAppends = false, failRotate = false;
  std::shared_future<void> hang;  // the disk is stuck until it is ready
  std::atomic<bool> stuck{false};
  std::promise<void> entered;
};

TEST(DiagnosticsLog, TheFileIsCappedWithOnePreviousFileKept) {
  MemoryLogFiles files;
  files.current = std::string(90, 'o');  // what an earlier run left
  LogWriter writer(files, 100);
  writer.Write("0123456789\n");
  EXPECT_EQ(files.previous, std::string(90, 'o'));
  EXPECT_EQ(files.current, "0123456789\n");
  for (int i = 0; i < 9; ++i) writer.Write("0123456789\n");
  EXPECT_EQ(files.rotations, 2);  // at 99 bytes, the tenth line is one too many
  EXPECT_EQ(files.previous.size(), 99u);
  files.failAppends = true;  // a file that cannot be written is skipped, never past the cap
  writer.Write("lost\n");
  files.failAppends = false, files.failRotate = true;
  for (int i = 0; i < 20; ++i) writer.Write("0123456789\n");
  EXPECT_LE(files.current.size(), 100u);
  files.failRotate = false;
  writer.Write("back\n");
  EXPECT_NE(files.current.find("back\n"), std::string::npos);
}

// Local time to the millisecond first.
TEST(DiagnosticsLog, LinesAreStampedAtOnceAndWrittenInOrderOffTheCallersThread) {
  auto files = std::make_unique<MemoryLogFiles>();
  MemoryLogFiles& seen = *files;
  std::promise<void> disk;
  seen.hang = disk.get_future().share();  // the disk is stuck
  std::atomic<int> clock = 0;
  DiagnosticsLog log(std::move(files), [&] { return LocalTime{2026, 1, 2, 3, 4, 5, clock++}; }, "\r\n");
  log.Event("first");
  seen.entered.get_future().wait();
  // Nothing waits for the stuck disk; past the queue's room, lines are counted.
  for (std::size_t i = 0; i < DiagnosticsLog::kMaxQueued + 10; ++i) log.Event("event " + std::to_string(i));
  disk.set_value();
  log.Flush(std::chrono::seconds(10));
  log.Event("after");
  log.Flush(std::chrono::seconds(10));
  const std::string& c = seen.current;
  EXPECT_EQ(c.rfind("2026-01-02 03:04:05.000 first\r\n2026-01-02 03:04:05.001 event 0\r\n", 0), 0u);
  EXPECT_EQ(c.find(" event 1000\r\n"), std::string::npos);
  const auto last = c.find(" event 999\r\n"), gap = c.find(" 10 log lines were dropped");
  EXPECT_LT(last, gap);
  EXPECT_LT(gap, c.find(" after\r\n"));
  EXPECT_NE(c.find(" after\r\n"), std::string::npos);
}

TEST(Pause, EventsInsideRunInOrderAndItEndsOnTimeOrAtQuitWithoutSpinning) {
  FakeClock clock;
  FakePump pump{clock};
  clock.startOfDay = 86400.0 - 0.02;  // across midnight
  std::vector<std::chrono::microseconds> at;
  for (auto t : {0ms, 10ms}) pump.At(t, [&] { at.push_back(clock.now); });
  pump.At(30ms, [&] { at.push_back(clock.now), Pause(pump, clock, 5); });  // a nested pause
  Pause(pump, clock, 0);
  EXPECT_EQ(at.size() + pump.waits, 1u);  // zero still processes events, once
  Pause(pump, clock, 50);
  EXPECT_EQ(at, (std::vector<std::chrono::microseconds>{0ms, 10ms, 30ms}));
  EXPECT_EQ(clock.now, 50ms);
  const int waits = pump.waits;
  Pause(pump, clock, 50);
  EXPECT_EQ(pump.waits, waits + 1);  // nothing happens: one wait, no busy loop
  pump.At(105ms, [&] { pump.quit = true; });
  Pause(pump, clock, 1000);
  EXPECT_EQ(clock.now, 105ms);
}

}  // namespace
}  // namespace tarvik
