#include "bluetooth/connection.h"

#include <gtest/gtest.h>

#include "bluetooth/reader_commands.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_dialogs.h"
#include "fakes/fake_link.h"
#include "fakes/fake_log.h"
#include "core/dialogs.h"
#include "wedge/option_lists.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;

// A link whose attempts end as the test scripts them, their events arriving
// through the pump as the real library's do.
class ScriptedClient : public wclClient {
 public:
  enum class Outcome { RefusedAtOnce, FailsAfter, OpensAfter };
  ScriptedClient(FakePump& pump, FakeClock& clock) : pump_(pump), clock_(clock) {}

  std::int32_t Connect() override {
    ++connects;
    startedAt.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now));
    addresses.push_back(Parameters.address);
    radios.push_back(Parameters.radio != nullptr);
    if (state != 0) return wcl::kBusy;
    if (outcome == Outcome::RefusedAtOnce) return wcl::kBadAddress;
    state = 1;
    pump_.At(clock_.now + delay, [this] {
      if (outcome == Outcome::OpensAfter) {
        state = 2;
        if (OnConnect) OnConnect(0);
      } else {
        state = 0;
        if (OnConnect) OnConnect(10060);
      }
    });
    return 0;
  }
  std::uint32_t State() const override { return state; }
  std::int32_t Write(std::span<const std::uint8_t> b) override {
    written.push_back({{b.begin(), b.end()}, std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now)});
    return 0;
  }
  void Disconnect() override {
    ++disconnects;
    const bool wasOpen = state == 2;
    state = 0;
    if (wasOpen) pump_.At(clock_.now, [this] { if (OnDisconnect) OnDisconnect(); });
  }
  // The reader ends the link.
  void Drop() {
    state = 0;
    if (OnDisconnect) OnDisconnect();
  }

  Outcome outcome = Outcome::OpensAfter;
  std::chrono::microseconds delay = 50ms;
  std::uint32_t state = 0;
  int connects = 0, disconnects = 0;
  std::vector<std::string> addresses;
  std::vector<std::chrono::milliseconds> startedAt;
  std::vector<bool> radios;
  std::vector<FakeClient::Written> written;

 private:
  FakePump& pump_;
  FakeClock& clock_;
};

class FakeDiscovery : public wclBluetoothDiscovery {
 public:
  std::int32_t ListRadios(std::vector<Radio>& r) override {
    ++lists;
    if (hasRadio) r.push_back(std::make_shared<NamedRadio>());
    return hasRadio ? 0 : 120;
  }
  std::int32_t Discover(const Radio&, std::uint8_t, std::uint32_t) override { return 0; }
  struct NamedRadio : IRadio {
    std::string Name() const override { return "radio"; }
  };
  bool hasRadio = false;
  int lists = 0;
};

struct Link {
  Link() {
    std::int16_t ready = 0;
    creacombo(controls, pump, ready);
    client.OnConnect = [this](std::int32_t e) { manager.wclClient_OnConnect(e); };
    client.OnDisconnect = [this] { manager.wclClient_OnDisconnect(); };
    controls.SetCaption(Ctl::Label25, "tcp://127.0.0.1:5000");
  }
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  ScriptedClient client{pump, clock};
  FakeLibrary library;
  FakeTimer timer3;
  FakeSound sound{pump, clock};
  FakeDialogs dialogs;
  FakeDiscovery discovery;
  std::string service = "{00001101-0000-1000-8000-00805F9B34FB}";
  ReaderCommands commands{client, library, controls, pump, clock};
  RecordingLog log;
  ConnectionManager manager{{controls, pump, clock, sound, dialogs, timer3, library, client, discovery,
                             commands, [] { return std::string("C:\\WINDOWS"); }, service, log}};
  // Runs the program's event processing until `t`.
  void RunUntil(std::chrono::microseconds t) {
    while (clock.now < t) {
      pump.ProcessPending();
      pump.WaitForEvent(t - clock.now);
    }
    pump.ProcessPending();
  }
};

TEST(Connection, AnAttemptCarriesTheLabelsAddressAndTheService) {
  Link l;
  l.manager.ConnectReader();
  EXPECT_EQ(l.client.connects, 1);
  EXPECT_EQ(l.client.LinkKind, 1);
  EXPECT_EQ(l.client.addresses.back(), "(tcp://127.0.0.1:5000)");
  EXPECT_EQ(l.client.Parameters.service, "{00001101-0000-1000-8000-00805F9B34FB}");
  // A network address needs no radio, and brings no radio message.
  EXPECT_EQ(l.discovery.lists, 0);
  EXPECT_TRUE(l.dialogs.informed.empty());
}

TEST(Connection, TheLinkOpensFeedbackAfter1700msThenTheSound) {
  Link l;
  l.controls.SetCheckValue(Ctl::Check1, 1);
  l.controls.SetCheckValue(Ctl::Check2, 1);
  l.manager.ConnectReader();
  l.RunUntil(3s);
  EXPECT_EQ(l.controls.linkColour, "green");
  EXPECT_TRUE(l.timer3.enabled);
  ASSERT_EQ(l.client.written.size(), 1u);
  EXPECT_EQ(l.client.written[0].bytes, std::vector<std::uint8_t>{0x46});
  EXPECT_EQ(l.client.written[0].at, 50ms + 1700ms);
  EXPECT_EQ(l.sound.played, (std::vector<std::string>{"C:\\WINDOWS\\beep1.wav"}));
}

TEST(Connection, ADroppedLinkTurnsRedAndIsOpenedAgainAtOnce) {
  Link l;
  l.manager.ConnectReader();
  l.RunUntil(1s);
  l.client.Drop();
  EXPECT_EQ(l.controls.linkColour, "red");
  EXPECT_FALSE(l.timer3.enabled);
  EXPECT_EQ(l.client.connects, 2);  // no wait after a link that was open
}

TEST(Connection, AFailureAfterItsTimeIsRetriedAtOnceAFastOneAfterASecond) {
  Link l;
  l.client.outcome = ScriptedClient::Outcome::FailsAfter;
  l.client.delay = 5s;  // a reader out of range: the page timeout
  l.pump.At(6s, [&] { l.client.delay = 10ms; });  // then refused at once
  l.manager.ConnectReader();
  l.RunUntil(13s);
  using std::chrono::milliseconds;
  ASSERT_GE(l.client.startedAt.size(), 5u);
  EXPECT_EQ(l.client.startedAt[0], 0ms);
  EXPECT_EQ(l.client.startedAt[1], 5000ms);   // at once after a slow failure
  EXPECT_EQ(l.client.startedAt[2], 10000ms);  // likewise
  EXPECT_EQ(l.client.startedAt[3], 11000ms);  // a second after the start of a fast one
  EXPECT_EQ(l.client.startedAt[4], 12000ms);
}

// A reader that is away fails the same way for hours: the log gets the first
// few failures, then how many more there were, every ten minutes and when
// the link opens at last. Every attempt is accounted for.
TEST(Connection, ARepeatedFailureIsLoggedAFewTimesThenCounted) {
  Link l;
  l.client.outcome = ScriptedClient::Outcome::FailsAfter;
  l.client.delay = 10ms;
  l.pump.At(25min, [&] { l.client.outcome = ScriptedClient::Outcome::OpensAfter; });
  l.manager.ConnectReader();
  l.RunUntil(26min);
  const std::string failed = "Connect to tcp://127.0.0.1:5000 failed: 10060 (error 10060)";
  int failures = 0, counted = 0, summaries = 0;
  for (const auto& e : l.log.events) {
    if (e == failed) ++failures;
    if (e.rfind("The failure before happened ", 0) == 0) ++summaries, counted += std::stoi(e.substr(28));
  }
  EXPECT_EQ(failures, ConnectionManager::kRepeatsLoggedInFull);
  EXPECT_EQ(summaries, 3);  // at 10 and 20 minutes, and when the link opened
  EXPECT_EQ(failures + counted, l.client.connects - 1);
  EXPECT_EQ(l.log.events.back(), "Link to tcp://127.0.0.1:5000 open");
}

TEST(Connection, AnAddressThatCannotEvenStartAnAttemptDoesNotSpin) {
  Link l;
  l.controls.SetCaption(Ctl::Label25, "");  // "()": no address at all
  l.client.outcome = ScriptedClient::Outcome::RefusedAtOnce;
  l.pump.At(10s, [&] { l.pump.quit = true; });
  l.manager.ConnectReader();
  EXPECT_EQ(l.client.addresses.front(), "()");
  EXPECT_GE(l.client.connects, 10);
  EXPECT_LE(l.client.connects, 11);  // one a second, for ten seconds
  EXPECT_LE(l.pump.processed, 100);
}

TEST(Connection, TensOfThousandsOfFailuresNeitherNestNorOverlap) {
  Link l;
  l.client.outcome = ScriptedClient::Outcome::FailsAfter;
  l.client.delay = 1ms;
  int overlap = 0;
  l.client.OnConnect = [&](std::int32_t e) {
    if (l.client.state != 0) ++overlap;
    l.manager.wclClient_OnConnect(e);
  };
  l.manager.ConnectReader();
  l.RunUntil(std::chrono::hours(6));
  EXPECT_GT(l.client.connects, 20000);
  EXPECT_LE(l.manager.maxDepth(), 3);
  EXPECT_EQ(overlap, 0);
  EXPECT_EQ(l.client.connects, l.manager.attempts());
}

TEST(Connection, AReaderThatKeepsConnectingAndDroppingDoesNotDeepenTheStack) {
  Link l;
  l.controls.SetCheckValue(Ctl::Check2, 1);  // a 1.7 s greeting waits after each open
  int opens = 0;
  l.client.OnConnect = [&](std::int32_t e) {
    // It drops 300 ms after each open, inside the greeting's wait, 5000 times.
    if (e == 0 && ++opens <= 5000) l.pump.At(l.clock.now + 300ms, [&] { l.client.Drop(); });
    l.manager.wclClient_OnConnect(e);
  };
  l.manager.ConnectReader();
  l.RunUntil(std::chrono::hours(1));
  EXPECT_EQ(l.client.connects, 5001);
  EXPECT_LE(l.manager.maxDepth(), 6);
  // The link that stayed open was greeted once, 1.7 s after it opened.
  ASSERT_FALSE(l.client.written.empty());
  EXPECT_EQ(l.controls.linkColour, "green");
}

TEST(Connection, ABluetoothAddressWithoutARadioTellsTheUserEachPass) {
  Link l;
  l.controls.SetCaption(Ctl::Label25, "00:1A:7D:DA:71:13");
  l.client.outcome = ScriptedClient::Outcome::RefusedAtOnce;
  l.pump.At(2500ms, [&] { l.pump.quit = true; });
  l.manager.ConnectReader();
  EXPECT_EQ(l.dialogs.informed.size(), static_cast<size_t>(l.client.connects));
  EXPECT_EQ(l.dialogs.informed.front(), "No Bluetooth API was found.");
  EXPECT_FALSE(l.client.radios.front());
  l.discovery.hasRadio = true;
  l.pump.quit = false;
  l.client.outcome = ScriptedClient::Outcome::OpensAfter;
  l.manager.ConnectReader();
  EXPECT_TRUE(l.client.radios.back());
  EXPECT_EQ(l.client.Parameters.radio, nullptr);  // dropped after the request
}

TEST(Connection, SelectDeviceSuspendsSavesAndReconnects) {
  Link l;
  l.manager.ConnectReader();
  l.RunUntil(1s);
  std::vector<std::string> steps;
  l.manager.Command6_Click(
      [&] {
        steps.push_back("window open, suspended=" + std::to_string(l.manager.LinkSuspended));
        // While it is open: the disconnect event only turns the label red.
        l.RunUntil(2s);
        steps.push_back(std::string("label ") + l.controls.linkColour);
        l.controls.SetCaption(Ctl::Label25, "COM5");
      },
      [&] { steps.push_back("saved"); });
  EXPECT_EQ(steps, (std::vector<std::string>{"window open, suspended=1", "label red", "saved"}));
  EXPECT_EQ(l.manager.LinkSuspended, 0);
  EXPECT_EQ(l.client.disconnects, 1);
  EXPECT_EQ(l.client.connects, 2);  // none while the window was open
  EXPECT_EQ(l.client.addresses.back(), "(COM5)");
}

TEST(Connection, AConnectEventWhileSuspendedDoesNothing) {
  Link l;
  l.manager.LinkSuspended = 1;
  l.manager.wclClient_OnConnect(0);
  l.manager.wclClient_OnConnect(10060);
  EXPECT_EQ(l.controls.linkColour, "red");
  EXPECT_EQ(l.client.connects, 0);
}

TEST(Connection, WakingFromSleepReopensAnOpenLink) {
  Link l;
  l.manager.Resumed();  // nothing open: nothing to do
  EXPECT_EQ(l.client.disconnects, 0);
  l.manager.ConnectReader();
  l.RunUntil(1s);
  l.manager.Resumed();
  l.RunUntil(2s);
  EXPECT_EQ(l.client.disconnects, 1);
  EXPECT_EQ(l.client.connects, 2);
  EXPECT_EQ(l.controls.linkColour, "green");
}

}  // namespace
}  // namespace tarvik
