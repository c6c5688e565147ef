// The diagnostics log: one line an event, local time to the millisecond
// first, for the person asked afterwards why scans went missing. Never a
// record's characters: barcodes can carry personal data. Writing it never
// holds up, slows or stops the program: lines go to a thread of their own,
// and a log that cannot be written is skipped.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tarvik {

class IDiagnostics {
 public:
  virtual ~IDiagnostics() = default;
  // One event, in a few words. Returns at once and never fails.
  virtual void Event(std::string_view text) = 0;
};

// For parts run without a log.
class NoDiagnostics : public IDiagnostics {
 public:
  void Event(std::string_view) override {}
};
IDiagnostics& NoLog();

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// "2026-12-07 14:03:05.123 " then the text.
std::string FormatLogLine(const LocalTime& t, std::string_view text);

// The log's files: the current one and the one before it.
class ILogFiles {
 public:
  virtual ~ILogFiles() = default;
  // The current file's size; 0 when there is none.
  virtual std::uint64_t CurrentSize() = 0;
  virtual bool Append(std::string_view bytes) = 0;
  // The current file becomes the previous one, replacing it.
  virtual bool Rotate() = 0;
};

inline constexpr std::uint64_t kLogCapBytes = 1024 * 1024;

// Appends lines and holds the current file under the cap: a line that would
// take it past the cap first moves the file aside. A line that cannot be
// written is skipped; the next one tries again.
class LogWriter {
 public:
  explicit LogWriter(ILogFiles& files, std::uint64_t cap = kLogCapBytes) : files_(files), cap_(cap) {}
  void Write(std::string_view line);

 private:
  ILogFiles& files_;
  std::uint64_t cap_;
  std::uint64_t size_ = 0;
  bool sized_ = false;
};

// The program's log: lines are stamped at once and written by a thread of
// their own. Where the disk holds them up, at most kMaxQueued wait; later
// ones are dropped and counted, and the count is written once lines flow.
class DiagnosticsLog : public IDiagnostics {
 public:
  static constexpr std::size_t kMaxQueued = 1000;

  DiagnosticsLog(std::unique_ptr<ILogFiles> files, std::function<LocalTime()> now,
                 std::string lineEnd);
  ~DiagnosticsLog() override;  // writes what is queued, then ends the thread
  DiagnosticsLog(const DiagnosticsLog&) = delete;
  DiagnosticsLog& operator=(const DiagnosticsLog&) = delete;

  void Event(std::string_view text) override;
  // Waits up to `limit` for the queued lines to be written: before the
  // program ends at once.
  void Flush(std::chrono::milliseconds limit);

 private:
  void Run();

  std::unique_ptr<ILogFiles> files_;
  LogWriter writer_;
  std::function<LocalTime()> now_;
  std::string lineEnd_;
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::string> queue_;
  std::size_t dropped_ = 0;
  bool writing_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace tarvik
