// The focused field of programs whose fields are not edit controls (browsers,
// WPF, WinUI), read through UI Automation. Its calls go into the application
// and can block for as long as that hangs, so they run on a thread of their
// own and the caller waits only for its limit.
#pragma once
#include <chrono>
#include <memory>

#include "core/field_reader.h"

namespace tarvik::win {

// What the field reader asks of UI Automation.
class IAutomationFocus {
 public:
  virtual ~IAutomationFocus() = default;
  // The focused element's text and selection, or no field; within about `limit`.
  virtual FieldReading Read(std::chrono::milliseconds limit) = 0;
};

// The calls themselves, made on one thread only: Open first, then any number
// of reads. Either may block.
class IFocusedElementSource {
 public:
  virtual ~IFocusedElementSource() = default;
  // False where the system has no UI Automation (Wine registers none).
  virtual bool Open() = 0;
  virtual FieldReading ReadFocused() = 0;
};

// Runs a source on a worker thread. A read the worker has not finished within
// the caller's limit answers "no field"; until the worker returns from it,
// every later read answers so at once, without queuing behind it. The worker
// is let go, not waited for, when this is destroyed: it may be stuck in a
// hung application for good.
class BoundedAutomation : public IAutomationFocus {
 public:
  explicit BoundedAutomation(std::unique_ptr<IFocusedElementSource> source);
  ~BoundedAutomation() override;
  BoundedAutomation(const BoundedAutomation&) = delete;
  BoundedAutomation& operator=(const BoundedAutomation&) = delete;
  FieldReading Read(std::chrono::milliseconds limit) override;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// The system's UI Automation client (CUIAutomation, in a multithreaded
// apartment of the worker's).
std::unique_ptr<IFocusedElementSource> MakeUiAutomationSource();

// "no answer within N ms", as every reader says it.
std::string NoAnswerWithin(std::chrono::milliseconds limit);

}  // namespace tarvik::win
