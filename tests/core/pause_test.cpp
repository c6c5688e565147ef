#include <gtest/gtest.h>

#include "fakes/fake_pump.h"
#include "core/event_pump.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::FakePump;

TEST(Pause, ZeroStillProcessesEventsOnce) {
  FakeClock clock;
  FakePump pump{clock};
  bool ran = false;
  pump.At(0us, [&] { ran = true; });
  Pause(pump, clock, 0);
  EXPECT_TRUE(ran);
  EXPECT_EQ(pump.processed, 1);
  EXPECT_EQ(pump.waits, 0);
  EXPECT_EQ(clock.now, 0us);
}

TEST(Pause, BlocksUntilTheDeadlineInsteadOfSpinning) {
  FakeClock clock;
  FakePump pump{clock};
  Pause(pump, clock, 50);
  EXPECT_EQ(clock.now, 50ms);
  // One wait covers the whole pause when nothing happens: no busy loop.
  EXPECT_EQ(pump.waits, 1);
  EXPECT_EQ(pump.processed, 2);
}

TEST(Pause, EventsInsideThePauseRunAndThePauseStillEndsOnTime) {
  FakeClock clock;
  FakePump pump{clock};
  std::vector<std::chrono::microseconds> at;
  pump.At(10ms, [&] { at.push_back(clock.now); });
  pump.At(30ms, [&] {
    at.push_back(clock.now);
    Pause(pump, clock, 5);  // a nested handler that waits itself
  });
  Pause(pump, clock, 50);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(at[0], 10ms);
  EXPECT_EQ(at[1], 30ms);
  EXPECT_EQ(clock.now, 50ms);
}

TEST(Pause, EndsAfterItsLengthAcrossMidnight) {
  FakeClock clock;
  FakePump pump{clock};
  clock.startOfDay = 86400.0 - 0.05;  // 50 ms before midnight
  Pause(pump, clock, 200);
  EXPECT_EQ(clock.now, 200ms);
  EXPECT_NEAR(clock.TimeOfDay(), 0.15, 1e-9);
}

TEST(Pause, ReturnsWhenTheProgramIsEnding) {
  FakeClock clock;
  FakePump pump{clock};
  pump.At(5ms, [&] { pump.quit = true; });
  Pause(pump, clock, 1000);
  EXPECT_EQ(clock.now, 5ms);
}

}  // namespace
}  // namespace tarvik
