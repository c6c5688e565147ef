#include "bluetooth/reader_commands.h"

#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "wedge/option_lists.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using W = FakeClient::Written;

class Commands : public ::testing::Test {
 protected:
  Commands() {
    std::int16_t ready = 0;
    creacombo(controls, pump, ready);
  }
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  FakeClient client{clock};
  FakeLibrary library;
  ReaderCommands commands{client, library, controls, pump, clock};
};

TEST_F(Commands, FeedbackIsOneByte200msLater) {
  commands.SendFeedback();
  EXPECT_EQ(client.written, (std::vector<W>{{{0x46}, 200ms}}));
  EXPECT_EQ(library.results, (std::vector<std::int32_t>{0}));
}

TEST(RoundHalfEven, Cases) {
  EXPECT_EQ(RoundHalfEven(100.5), 100);
  EXPECT_EQ(RoundHalfEven(101.5), 102);
  EXPECT_EQ(RoundHalfEven(101.49), 101);
  EXPECT_EQ(RoundHalfEven(101.51), 102);
  EXPECT_EQ(RoundHalfEven(86399.5 + 600), 86400 + 600);
}

TEST_F(Commands, DeadlineIsNowPlusTheMinutesRounded) {
  controls.Preset(Ctl::Combo9, 1);
  clock.startOfDay = 1000.5;
  commands.ArmInactivityDeadline();
  EXPECT_EQ(commands.InactivityDeadline(), 1060);
  clock.startOfDay = 1001.5;
  commands.ArmInactivityDeadline();
  EXPECT_EQ(commands.InactivityDeadline(), 1062);
}

TEST_F(Commands, TheInactivitySequence) {
  controls.Preset(Ctl::Combo9, 1);
  commands.ArmInactivityDeadline();
  clock.now = 64s;  // the first tick after the connect
  commands.Timer3_Timer();
  EXPECT_EQ(client.written, (std::vector<W>{{{0x42}, 64000ms},
                                            {{0x7C, 0x1E, 0x0D}, 64100ms},
                                            {{0x53}, 65100ms}}));
  EXPECT_EQ(client.disconnects, 1);
  EXPECT_EQ(library.results.size(), 3u);
}

TEST_F(Commands, NothingBeforeTheDeadlineOrWithoutATimeout) {
  controls.Preset(Ctl::Combo9, 2);
  commands.ArmInactivityDeadline();
  clock.now = 64s;
  commands.Timer3_Timer();  // 64 s < 2 minutes
  controls.Preset(Ctl::Combo9, 0);
  clock.now = 24h;
  commands.Timer3_Timer();  // no timeout at all, however long it was idle
  EXPECT_TRUE(client.written.empty());
  EXPECT_EQ(client.disconnects, 0);
}

TEST_F(Commands, ADeadlineArmedBeforeMidnightIsHonouredAfterIt) {
  controls.Preset(Ctl::Combo9, 1);
  clock.startOfDay = 86400 - 30;  // 23:59:30
  commands.ArmInactivityDeadline();
  EXPECT_EQ(commands.InactivityDeadline(), 86430);
  clock.now = 20s;  // 23:59:50: not yet
  commands.Timer3_Timer();
  clock.now = 45s;  // 00:00:15: the time of day has wrapped, 45 s have passed
  commands.Timer3_Timer();
  EXPECT_TRUE(client.written.empty());
  clock.now = 64s;  // 00:00:34: a minute has passed
  commands.Timer3_Timer();
  ASSERT_FALSE(client.written.empty());
  EXPECT_EQ(client.written.front().bytes, std::vector<std::uint8_t>{0x42});
}

TEST_F(Commands, ADeadlineArmedJustAfterMidnightDoesNotFireEarly) {
  controls.Preset(Ctl::Combo9, 1);
  clock.startOfDay = 5;  // 00:00:05; a tick an hour before would read 86400-ish
  commands.ArmInactivityDeadline();
  clock.now = 30s;
  commands.Timer3_Timer();
  EXPECT_TRUE(client.written.empty());
}

TEST_F(Commands, ASequenceUnderWayEndsWithSAndTheCloseWhateverArrivesInside) {
  controls.Preset(Ctl::Combo9, 1);
  commands.ArmInactivityDeadline();
  clock.now = 64s;
  // Data inside the sequence re-arms the deadline; the sequence still ends.
  pump.At(64500ms, [&] { commands.ArmInactivityDeadline(); });
  commands.Timer3_Timer();
  ASSERT_EQ(client.written.size(), 3u);
  EXPECT_EQ(client.written.back().bytes, std::vector<std::uint8_t>{0x53});
  EXPECT_EQ(client.disconnects, 1);
}

TEST_F(Commands, WritesToAClosedLinkAreReportedAndTheSequenceGoesOn) {
  controls.Preset(Ctl::Combo9, 1);
  client.state = 0;
  commands.ArmInactivityDeadline();
  clock.now = 70s;
  commands.Timer3_Timer();
  EXPECT_EQ(library.results,
            (std::vector<std::int32_t>{wcl::kNotConnected, wcl::kNotConnected, wcl::kNotConnected}));
  EXPECT_EQ(client.disconnects, 1);
}

}  // namespace
}  // namespace tarvik
