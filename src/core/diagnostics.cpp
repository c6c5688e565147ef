#include "core/diagnostics.h"

#include <cstdio>
#include <utility>

namespace tarvik {

IDiagnostics& NoLog() {
  static NoDiagnostics none;
  return none;
}

std::string FormatLogLine(const LocalTime& t, std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return stamp + std::string(text);
}

void LogWriter::Write(std::string_view line) {
  if (!sized_) {
    size_ = files_.CurrentSize();
    sized_ = true;
  }
  if (size_ > 0 && size_ + line.size() > cap_) {
    if (!files_.Rotate()) return;  // never past the cap: the line is skipped
    size_ = 0;
  }
  if (files_.Append(line)) {
    size_ += line.size();
  } else {
    sized_ = false;  // whatever reached the file, ask it afresh next time
  }
}

DiagnosticsLog::DiagnosticsLog(std::unique_ptr<ILogFiles> files, std::function<LocalTime()> now,
                               std::string lineEnd)
    : files_(std::move(files)), writer_(*files_), now_(std::move(now)), lineEnd_(std::move(lineEnd)) {
  thread_ = std::thread([this] { Run(); });
}

DiagnosticsLog::~DiagnosticsLog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void DiagnosticsLog::Event(std::string_view text) {
  const LocalTime now = now_();
  std::string line = FormatLogLine(now, text) + lineEnd_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
      ++dropped_;
      return;
    }
    // The gap is told where it is, before the first line after it.
    if (dropped_ > 0)
      queue_.push_back(FormatLogLine(now, std::to_string(std::exchange(dropped_, 0)) +
                                              " log lines were dropped: the log could not keep up") +
                       lineEnd_);
    queue_.push_back(std::move(line));
  }
  wake_.notify_one();
}

void DiagnosticsLog::Flush(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait_for(lock, limit, [this] { return queue_.empty() && !writing_; });
}

void DiagnosticsLog::Run() {
  // Nothing here may throw out of the thread: a failure to write is the
  // log's own business, never the program's.
  try {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and all is written
      std::string line = std::move(queue_.front());
      queue_.pop_front();
      writing_ = true;
      lock.unlock();
      writer_.Write(line);
      lock.lock();
      writing_ = false;
      if (queue_.empty()) idle_.notify_all();
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    writing_ = false;
    queue_.clear();
    idle_.notify_all();
  }
}

}  // namespace tarvik
