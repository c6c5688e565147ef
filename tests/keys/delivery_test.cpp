#include "keys/delivery.h"

#include <gtest/gtest.h>

#include "keys/keystroke_output.h"

namespace tarvik {
namespace {

// What a field should hold after the keys: its text before with what was
// sent at the caret, over a selection; only that part is judged, and the
// log gets counts of what went wrong, never characters.
TEST(Delivery, TheFieldAgainstWhatTheKeysShouldHaveMadeOfIt) {
  struct Case {
    const char* name;
    FieldText before;
    std::u32string sent, after;
    Delivery outcome;
    std::string described;
  };
  const Case cases[] = {
      {"into an empty field", {}, U"4006381333931", U"4006381333931", Delivery::kDelivered, "delivered"},
      {"the caret in the middle", {U"ab|cd", 3, 3}, U"XY", U"ab|XYcd", Delivery::kDelivered, "delivered"},
      {"a selection replaced, made from its end", {U"abcdef", 4, 1}, U"XY", U"aXYef", Delivery::kDelivered,
       "delivered"},
      {"repeated characters collapsed", {}, U"4006381333931", U"4063813931", Delivery::kDifferent,
       "13 characters sent, 10 arrived: 3 lost"},
      {"doubled", {U"x", 1, 1}, U"AB", U"xAAB", Delivery::kDifferent, "2 characters sent, 3 arrived: 1 extra"},
      {"reordered", {}, U"ABCD", U"ACBD", Delivery::kDifferent, "4 characters sent, 4 arrived: 2 wrong"},
      {"a Shift applied late", {}, U"Ab1", U"ab1", Delivery::kDifferent,
       "3 characters sent, 3 arrived: 1 of the wrong case"},
      {"nothing arrived over a selection", {U"abc", 0, 3}, U"XY", U"abc", Delivery::kDifferent,
       "2 characters sent, 3 arrived: 1 extra, 2 wrong"},
      {"a field that makes every letter a capital", {}, U"ab-1c", U"AB-1C", Delivery::kCannotTell,
       "cannot tell whether it arrived: the field changes the case of letters"},
      {"one that says so", {U"", 0, 0, FieldCase::kUpper}, U"ab-1c", U"AB-1C", Delivery::kDelivered,
       "delivered"},
      {"a field that changed on its own", {U"12:00 ", 6, 6}, U"AB", U"12:01 AB", Delivery::kCannotTell,
       "cannot tell whether it arrived: the field changed where no key went"},
      {"emptied meanwhile", {U"abc", 3, 3}, U"AB", U"", Delivery::kCannotTell,
       "cannot tell whether it arrived: the field changed where no key went"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DeliveryVerdict v = CompareField(c.before, c.sent, {c.after});
    EXPECT_EQ(v.outcome, c.outcome);
    EXPECT_EQ(v.Describe(), c.described);
  }
  // Only characters are read back; a prefix may move the caret, and a brace
  // key or a control character does more than insert. Suffixes come after
  // the check and do not count.
  TypedRecord r = TypedRecord::Of("AB");
  r.suffix1 = KeyRun{"{ENTER}", 1};
  EXPECT_EQ(InsertedText(r, false), U"AB");
  EXPECT_EQ(InsertedText(r, true), std::nullopt);
  r.AddToken("{TAB}");
  EXPECT_EQ(InsertedText(r, false), std::nullopt);
  EXPECT_EQ(InsertedText(TypedRecord::Of("A\tB"), false), std::nullopt);
}

}  // namespace
}  // namespace tarvik
