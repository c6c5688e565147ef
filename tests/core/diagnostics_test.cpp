#include "core/diagnostics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace tarvik {
namespace {

// The current file and the one before, in memory; appends can be made to
// fail or to hang.
class MemoryLogFiles : public ILogFiles {
 public:
  std::uint64_t CurrentSize() override { return current.size(); }
  bool Append(std::string_view bytes) override {
    if (hang.valid()) {
      if (!stuck.exchange(true)) entered.set_value();
      hang.wait();
    }
    if (failAppends) return false;
    current += bytes;
    return true;
  }
  bool Rotate() override {
    if (failRotate) return false;
    previous = std::exchange(current, {});
    ++rotations;
    return true;
  }
  std::string current, previous;
  int rotations = 0;
  bool failAppends = false, failRotate = false;
  std::shared_future<void> hang;
  std::atomic<bool> stuck{false};
  std::promise<void> entered;  // the writer is inside the stuck disk
};

TEST(DiagnosticsLog, LocalTimeToTheMillisecondFirst) {
  EXPECT_EQ(FormatLogLine({2026, 12, 7, 9, 5, 3, 7}, "Link to COM5 open"),
            "2026-12-07 09:05:03.007 Link to COM5 open");
}

TEST(DiagnosticsLog, TheFileIsCappedWithOnePreviousFileKept) {
  MemoryLogFiles files;
  files.current = std::string(90, 'o');  // what an earlier run left
  LogWriter writer(files, 100);
  writer.Write("0123456789\n");  // 101 bytes would pass the cap: the old file moves aside
  EXPECT_EQ(files.previous, std::string(90, 'o'));
  EXPECT_EQ(files.current, "0123456789\n");
  for (int i = 0; i < 9; ++i) writer.Write("0123456789\n");
  EXPECT_EQ(files.rotations, 2);  // at 99 bytes, the tenth line is one too many
  EXPECT_LE(files.current.size(), 100u);
  EXPECT_EQ(files.previous.size(), 99u);
  // A file that cannot be written is skipped, and never grows past the cap.
  files.failAppends = true;
  writer.Write("lost\n");
  files.failAppends = false;
  files.failRotate = true;
  for (int i = 0; i < 20; ++i) writer.Write("0123456789\n");
  EXPECT_LE(files.current.size(), 100u);
  files.failRotate = false;
  writer.Write("back\n");
  EXPECT_NE(files.current.find("back\n"), std::string::npos);
}

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
  EXPECT_EQ(seen.current.rfind("2026-01-02 03:04:05.000 first\r\n2026-01-02 03:04:05.001 event 0\r\n", 0), 0u);
  EXPECT_NE(seen.current.find(" event 999\r\n"), std::string::npos);
  EXPECT_EQ(seen.current.find(" event 1000\r\n"), std::string::npos);
  const auto gap = seen.current.find(" 10 log lines were dropped");
  EXPECT_LT(seen.current.find(" event 999\r\n"), gap);
  EXPECT_LT(gap, seen.current.find(" after\r\n"));
  EXPECT_NE(seen.current.find(" after\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tarvik
