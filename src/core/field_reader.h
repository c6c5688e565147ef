// Reading back the text field that has the keyboard focus, through what the
// desktop exposes of it (a control's own messages, UI Automation, AT-SPI),
// so that what a record's keys made of it can be compared with what they
// should have made. The contents serve that comparison only: they are never
// logged or kept past it.
#pragma once
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace tarvik {

// A field longer than this is not read: reading it would cost the record
// more than it is worth.
inline constexpr std::size_t kFieldReadLimit = 64 * 1024;

// What a field does to the letters it gets, where it says so (an edit
// control with an upper-case style).
enum class FieldCase { kAsTyped, kUpper, kLower };

struct FieldText {
  std::u32string text;
  // The selection, in characters of text; equal where there is only a caret.
  std::size_t selStart = 0, selEnd = 0;
  FieldCase casing = FieldCase::kAsTyped;
  bool operator==(const FieldText&) const = default;
};

struct FieldReading {
  std::optional<FieldText> field;  // none: nothing that can be read has the focus
  // Why nothing could be read, in a few words for the log ("a terminal",
  // "a password field", "no answer within 50 ms"); never the contents.
  std::string why;
  // Which field was read (a window handle, an accessible object's bus name
  // and path), so that a field that changed is told from another field that
  // took the focus.
  std::string which;
};

class IFieldReader {
 public:
  virtual ~IFieldReader() = default;
  // The field with the keyboard focus now. Answers within about `limit`,
  // also when the application that owns the field hangs: then with no field.
  virtual FieldReading Read(std::chrono::milliseconds limit) = 0;
};

// Where no field can be read at all.
class NoFieldReader : public IFieldReader {
 public:
  explicit NoFieldReader(std::string why) : why_(std::move(why)) {}
  FieldReading Read(std::chrono::milliseconds) override { return {{}, why_, {}}; }

 private:
  std::string why_;
};

}  // namespace tarvik
