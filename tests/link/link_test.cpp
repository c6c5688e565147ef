// The reader link: addresses, the link client (its address walk and write
// queue) over a scripted transport, the connection manager and the reader's
// commands.
#include "link/connection.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "link/address.h"
#include "link/link_client.h"
#include "link/reader_commands.h"
#include "link/write_queue.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using std::chrono::milliseconds;
using W = FakeClient::Written;

TEST(Address, TheTextPicksTheTransport) {
  const std::pair<const char*, ReaderAddress> good[] = {
      {"00:1A:7D:DA:71:13", BluetoothAddress{0x001A7DDA7113}}, {"001a7dda7113", BluetoothAddress{0x001A7DDA7113}},
      {" COM5 ", SerialAddress{5, 9600}}, {"com12:115200", SerialAddress{12, 115200}},
      {"COM3:9600:RtsCts", SerialAddress{3, 9600, FlowControl::kRtsCts}},
      {"COM3:19200:xonxoff", SerialAddress{3, 19200, FlowControl::kXonXoff}},
      {"/dev/ttyUSB0", SerialAddress{0, 9600, FlowControl::kNone, "/dev/ttyUSB0"}},
      {" /dev/ttyACM0:115200 ", SerialAddress{0, 115200, FlowControl::kNone, "/dev/ttyACM0"}},
      {"/dev/rfcomm0:9600:XonXoff", SerialAddress{0, 9600, FlowControl::kXonXoff, "/dev/rfcomm0"}},
      {"tcp://127.0.0.1:5000", TcpAddress{"127.0.0.1", 5000}}, {"TCP://[::1]:7", TcpAddress{"::1", 7}},
      {"tcp://reader.local:23", TcpAddress{"reader.local", 23}},
  };
  for (const auto& [text, address] : good) EXPECT_EQ(ParseReaderAddress(text), address) << text;
  for (auto bad : {"", "()", "00:1A:7D:DA:71", "00:1A:7D:DA:71:1G", "001A7DDA71133", "COM", "COM0", "COM5:",
                   "COM5:fast", "COM5:9600:", "COM5:9600:dtr", "COMX", "/", "/:9600", "/dev/ttyS0:", "/dev/ttyS0:0",
                   "/dev/ttyS0:9600:dtr", "dev/ttyS0", "hello", "tcp://host", "tcp://host:0", "tcp://host:99999", "tcp://:80"})
    EXPECT_FALSE(ParseReaderAddress(bad)) << bad;
}

TEST(Address, FormattingParenthesesAndTheServiceGuid) {
  EXPECT_EQ(FormatBluetoothAddress(0x001A7DDA7113), "00:1A:7D:DA:71:13");
  EXPECT_EQ(StripParentheses("COM5"), "COM5");  // "(COM5)": every link client case
  const auto g = ParseGuid("{00001101-0000-1000-8000-00805F9B34FB}");
  ASSERT_TRUE(g);
  EXPECT_EQ(std::tie(g->data1, g->data2, g->data3), std::make_tuple(0x00001101u, 0x0000, 0x1000));
  EXPECT_EQ(std::vector<std::uint8_t>(g->data4, g->data4 + 8),
            (std::vector<std::uint8_t>{0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}));
  EXPECT_EQ(ParseGuid("00001101-0000-1000-8000-00805f9b34fb"), g);
  EXPECT_FALSE(ParseGuid("{00001101-0000-1000-8000-00805F9B34F}"));
  EXPECT_FALSE(ParseGuid("{00001101+0000-1000-8000-00805F9B34FB}"));
}

// LinkClient over a transport and an event loop that the test drives.
struct Rig : ILinkLoop {
  // Takes at most `room` bytes until given more, or fails.
  struct Transport : ILinkTransport {
    Transport(Rig& r, ILinkEvents& e, bool looksUp) : rig(r), events(e), looksUp_(looksUp) {}
    Sent Send(std::span<const std::uint8_t> bytes) override {
      if (error) return {0, error};
      const std::size_t n = std::min(room, bytes.size());
      got.insert(got.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
      room -= n;
      return {n, 0};
    }
    bool LooksUp() const override { return looksUp_; }
    void Resolve() override { rig.log += "resolve "; }
    std::int32_t Open(std::size_t i) override {
      rig.log += "open" + std::to_string(i) + " ";
      return i < rig.startErrors.size() ? rig.startErrors[i] : 0;
    }
    void Close() override { rig.log += "close "; }
    std::size_t room = 1000;
    std::int32_t error = 0;
    std::vector<std::uint8_t> got;
    Rig& rig;
    ILinkEvents& events;
    bool looksUp_;
  };
  void Post(std::function<void()> work) override { posted.push_back(std::move(work)); }
  void StartTimer(milliseconds after, std::function<void()> done) override { timer = std::move(done), timerAfter = after; }
  void StopTimer() override { timer = nullptr; }
  void Run() {  // the event loop
    inCall = false;
    for (auto& work : std::exchange(posted, {})) work();
  }
  void RunAll() { while (!posted.empty()) Run(); }
  void Elapse() {  // the timer's time passes
    if (auto done = std::exchange(timer, nullptr)) done();
    RunAll();
  }
  std::int32_t Connect(const char* address) {
    client.Parameters.address = std::string("(") + address + ")";
    client.Parameters.service = "{00001101-0000-1000-8000-00805F9B34FB}";
    inCall = true;
    const std::int32_t r = client.Connect();
    log += "=" + std::to_string(r) + " ";
    return r;
  }
  ILinkEvents& Events() { return t->events; }
  void OpenLink() { Connect("COM1"), Events().Opened(), RunAll(); }

  std::vector<std::function<void()>> posted;
  std::function<void()> timer;
  milliseconds timerAfter{};
  std::vector<std::int32_t> startErrors;
  std::string log;
  bool inCall = false;
  Transport* t = nullptr;
  LinkClient client{*this,
                    [this](const ReaderAddress& a, const LinkParameters&, ILinkEvents& e, std::int32_t&) {
                      auto made = std::make_unique<Transport>(*this, e, std::holds_alternative<TcpAddress>(a));
                      t = made.get();
                      return made;
                    },
                    {-90, -91}};
  Rig() {
    client.OnConnect = [this](std::int32_t e) { log += (inCall ? "!" : "") + ("connect " + std::to_string(e)) + " "; };
    client.OnData = [this](std::vector<std::uint8_t> b) { log += "data " + std::string(b.begin(), b.end()) + " "; };
    client.OnDisconnect = [this] { log += (inCall ? "!" : "") + ("disconnect " + std::to_string(client.DropReason())) + " "; };
  }
};

// Events come only from the loop ("!" marks one within a call), in order,
// and none about an endpoint or attempt that has gone by. Every address is
// tried in order until one is under way; the attempt fails only when all
// have failed, with the last one's error. (A later address opening and
// writes held while the link is full are the real sockets' tests, over this
// same client.)
TEST(LinkClient, AttemptsLinksAndTheirEnds) {
  using Script = std::function<void(Rig&)>;
  struct Case {
    const char* what;
    Script script;
    std::string log;
    std::uint32_t state;
  };
  const Case cases[] = {
      {"every address failed", [](Rig& r) {
         r.startErrors = {0, 10047, 0};
         r.Connect("tcp://h:1"), r.Events().Resolved(0, 3), r.RunAll();
         r.Events().Failed(10061), r.RunAll(), r.Events().Failed(10060), r.RunAll();
       }, "resolve =0 open0 close open1 open2 close close connect 10060 ", 0},
      {"an address that does not answer gives way", [](Rig& r) {
         r.Connect("tcp://h:1"), r.Events().Resolved(0, 2), r.RunAll();
         EXPECT_EQ(r.timerAfter, kAddressTimeout);
         r.Elapse();
         EXPECT_FALSE(r.timer) << "the last address has the system's time";
         r.Elapse();
       }, "resolve =0 open0 close open1 ", 1},
      {"every address fails at once, or there is none", [](Rig& r) {
         r.startErrors = {10047, 10047};
         r.Connect("tcp://h:1"), r.Events().Resolved(0, 2), r.RunAll();
         r.Connect("tcp://h:1"), r.Events().Resolved(0, 0), r.RunAll();
       }, "resolve =0 open0 open1 close connect 10047 resolve =0 close connect -2 ", 0},
      {"the name is not found", [](Rig& r) { r.Connect("tcp://h:1"), r.Events().Resolved(11001, 0), r.RunAll(); },
       "resolve =0 close connect 11001 ", 0},
      {"an endpoint failing at once is the result", [](Rig& r) { r.startErrors = {10050}, r.Connect("COM1"), r.RunAll(); },
       "open0 close =10050 ", 0},
      {"busy, and an address that is none", [](Rig& r) {
         r.Connect("COM1"), r.Connect("COM1"), r.client.Disconnect(), r.Connect("nowhere"), r.RunAll();
       }, "open0 =0 =-3 close =-2 connect -90 ", 0},
      {"an old attempt's outcome is dropped", [](Rig& r) {
         r.Connect("COM1"), r.Events().Opened(), r.client.Disconnect(), r.Connect("COM2"), r.RunAll();
       }, "open0 =0 close open0 =0 connect -90 ", 1},
      {"the reader closes: its last words first", [](Rig& r) {
         r.OpenLink(), r.Events().Received(Bytes("bye")), r.Events().Failed(wcl::kClosedByPeer), r.RunAll();
       }, "open0 =0 connect 0 data bye close disconnect -8 ", 0},
      {"Disconnect: later, no reason, nothing after", [](Rig& r) {
         r.OpenLink(), r.Events().Received(Bytes("late")), r.inCall = true, r.client.Disconnect();
         EXPECT_EQ(r.client.State(), 0u);
         r.RunAll();
         EXPECT_EQ(r.client.Write(Bytes("F")), wcl::kNotConnected);
       }, "open0 =0 connect 0 close disconnect 0 ", 0},
      {"a failed write drops the link later, and what waited goes", [](Rig& r) {
         r.OpenLink(), r.t->room = 0, r.inCall = true;
         EXPECT_EQ(r.client.Write(Bytes("B")), 0);
         r.t->error = 10054;
         EXPECT_EQ(r.client.Write(Bytes("F")), 10054);
         EXPECT_EQ(r.client.Waiting(), 0u);
         r.log += "written ", r.RunAll();
       }, "open0 =0 connect 0 written close disconnect 10054 ", 0},
      {"a reader that never takes anything: a failure, not a leak", [](Rig& r) {
         r.OpenLink(), r.t->room = 0, r.inCall = true;
         EXPECT_EQ(r.client.Write(std::vector<std::uint8_t>(WriteQueue::kMaxWaiting, 'x')), 0);
         EXPECT_EQ(r.client.Write(Bytes("F")), wcl::kBufferOverflow);
         EXPECT_EQ(r.client.Waiting(), 0u);
         r.log += "written ", r.RunAll();
       }, "open0 =0 connect 0 written close disconnect -6 ", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    c.script(rig);
    EXPECT_EQ(rig.log, c.log);
    EXPECT_EQ(rig.client.State(), c.state);
  }
}

// Attempts end as scripted, their events arriving through the pump.
struct ScriptedClient : FakeClient {
  ScriptedClient(FakePump& pump, FakeClock& clock) : FakeClient(clock), pump_(pump), clock_(clock) { state = 0; }
  std::int32_t Connect() override {
    ++connects;
    tried.push_back({std::chrono::duration_cast<milliseconds>(clock_.now), Parameters.address, Parameters.radio != nullptr});
    if (state != 0) return wcl::kBusy;
    if (refused) return wcl::kBadAddress;
    state = 1;
    pump_.At(clock_.now + delay, [this, n = connects] {
      if (n == connects && state == 1) state = opens ? 2 : 0, OnConnect(opens ? 0 : 10060);  // not called off
    });
    return 0;
  }
  void Disconnect() override {
    ++disconnects;
    if (std::exchange(state, 0) == 2) pump_.At(clock_.now, [this] { if (OnDisconnect) OnDisconnect(); });
  }
  void Drop() { state = 0, OnDisconnect(); }  // the reader ends the link
  bool refused = false, opens = true;
  std::chrono::microseconds delay = 50ms;
  struct Attempt { milliseconds at; std::string address; bool radio; };
  std::vector<Attempt> tried;
  FakePump& pump_;
  FakeClock& clock_;
};

struct Link : FilledWindow {
  explicit Link(std::string address = "tcp://127.0.0.1:5000") {
    client.OnConnect = [this](std::int32_t e) { manager.wclClient_OnConnect(e); };
    client.OnDisconnect = [this] { manager.wclClient_OnDisconnect(); };
    controls.SetCaption(Ctl::Label25, address);
    discovery.radio = nullptr;
  }
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
                             commands, [](std::string_view name) { return "C:\\WINDOWS\\" + std::string(name); }, service, log}};
  void RunUntil(std::chrono::microseconds t) {
    for (pump.ProcessPending(); clock.now < t; pump.ProcessPending()) pump.WaitForEvent(t - clock.now);
  }
};

TEST(Connection, OpensWithFeedbackThenTheSoundReopensWhenDroppedOrAfterSleep) {
  Link l;
  l.manager.Resumed();  // nothing open: nothing to do
  l.controls.SetCheckValue(Ctl::Check1, 1), l.controls.SetCheckValue(Ctl::Check2, 1);
  l.manager.ConnectReader();
  EXPECT_EQ(l.client.tried.back().address, "(tcp://127.0.0.1:5000)");
  EXPECT_EQ(l.client.Parameters.service, l.service);
  EXPECT_EQ(l.discovery.lists, 0);  // a network address needs no radio
  l.RunUntil(3s);
  EXPECT_EQ(l.controls.linkColour, "green");
  EXPECT_TRUE(l.timer3.enabled);
  EXPECT_EQ(l.client.written, (std::vector<W>{{{0x46}, 50ms + 1700ms}}));
  EXPECT_EQ(l.sound.played, (std::vector<std::string>{"C:\\WINDOWS\\beep1.wav"}));
  l.client.Drop();
  EXPECT_EQ(l.controls.linkColour, "red");
  EXPECT_FALSE(l.timer3.enabled);
  EXPECT_EQ(l.client.connects, 2);  // at once after a link that was open
  l.RunUntil(5s);
  l.manager.Resumed(), l.RunUntil(6s);
  EXPECT_EQ(std::pair(l.client.disconnects, l.client.connects), std::pair(1, 3));
  EXPECT_EQ(l.controls.linkColour, "green");
}

// A failure after its time is retried at once, a fast one a second after its
// start. The first few failures are logged in full, then counted every ten
// minutes and at the open.
TEST(Connection, RepeatedFailuresAreSpacedAndLoggedAFewTimesThenCounted) {
  Link l;
  l.client.opens = false, l.client.delay = 5s;  // out of range, then refused at once
  l.pump.At(6s, [&] { l.client.delay = 10ms; });
  l.pump.At(25min, [&] { l.client.opens = true; });
  l.manager.ConnectReader();
  l.RunUntil(26min);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l.client.tried[i].at, std::vector({0ms, 5000ms, 10000ms, 11000ms, 12000ms})[i]);
  int failures = 0, counted = 0, summaries = 0;
  for (const auto& e : l.log.events) {
    if (e == "Connect to tcp://127.0.0.1:5000 failed: 10060 (error 10060)") ++failures;
    if (e.rfind("The failure before happened ", 0) == 0) ++summaries, counted += std::stoi(e.substr(28));
  }
  EXPECT_EQ(failures, ConnectionManager::kRepeatsLoggedInFull);
  EXPECT_EQ(summaries, 3);
  EXPECT_EQ(failures + counted, l.client.connects - 1);
  EXPECT_EQ(l.log.events.back(), "Link to tcp://127.0.0.1:5000 open");
}

// A port the user may not open fails every second: what to do is said once,
// and only for a serial port.
TEST(Connection, AdviceOnAPortThatKeepsFailingComesOnce) {
  for (const auto& [address, boxes] : {std::pair{"COM3", 1u}, std::pair{"tcp://127.0.0.1:5000", 0u}}) {
    Link l(address);
    l.library.adviceFor = 10060;
    l.client.opens = false, l.client.delay = 10ms;
    l.manager.ConnectReader();
    l.RunUntil(10s);
    EXPECT_GE(l.client.connects, 9) << address;
    EXPECT_EQ(l.dialogs.informed, std::vector<std::string>(boxes, "Join the group that owns serial ports.")) << address;
  }
}

TEST(Connection, EndlessFailuresOrDropsNeitherNestNorOverlap) {
  Link l;
  l.client.opens = false, l.client.delay = 1ms;
  int overlap = 0;
  l.client.OnConnect = [&](std::int32_t e) { overlap += l.client.state != 0, l.manager.wclClient_OnConnect(e); };
  l.manager.ConnectReader();
  l.RunUntil(std::chrono::hours(6));
  EXPECT_GT(l.client.connects, 20000);
  EXPECT_LE(l.manager.maxDepth(), 3);
  EXPECT_EQ(overlap, 0);
  EXPECT_EQ(l.client.connects, l.manager.attempts());

  Link d;  // drops 300 ms after each open, inside the 1.7 s greeting wait
  d.controls.SetCheckValue(Ctl::Check2, 1);
  int opens = 0;
  d.client.OnConnect = [&](std::int32_t e) {
    if (e == 0 && ++opens <= 5000) d.pump.At(d.clock.now + 300ms, [&] { d.client.Drop(); });
    d.manager.wclClient_OnConnect(e);
  };
  d.manager.ConnectReader();
  d.RunUntil(std::chrono::hours(1));
  EXPECT_EQ(d.client.connects, 5001);
  EXPECT_LE(d.manager.maxDepth(), 6);
  EXPECT_FALSE(d.client.written.empty());
  EXPECT_EQ(d.controls.linkColour, "green");
}

// An attempt that cannot even start is retried once a second, not in a spin;
// a Bluetooth address without a radio waits for one, said once in the log,
// with no box to stop the attempts.
TEST(Connection, AnAddressThatCannotStartAnAttemptDoesNotSpin) {
  Link l("00:1A:7D:DA:71:13");
  l.client.refused = true;
  l.pump.At(10s, [&] { l.pump.quit = true; });
  l.manager.ConnectReader();
  EXPECT_NEAR(l.client.connects, 10.5, 0.5);  // one a second
  EXPECT_LE(l.pump.processed, 100);
  EXPECT_TRUE(l.dialogs.informed.empty());
  EXPECT_EQ(std::count(l.log.events.begin(), l.log.events.end(),
                       "No Bluetooth adapter is there: the link waits for one"), 1);
  EXPECT_FALSE(l.client.tried.front().radio);
  l.discovery.radio = std::make_shared<FakeDiscovery::AnyRadio>();
  l.pump.quit = l.client.refused = false;
  l.manager.ConnectReader();
  EXPECT_TRUE(l.client.tried.back().radio);
  EXPECT_EQ(l.log.events.back(), "A Bluetooth adapter is there again");
  EXPECT_EQ(l.client.Parameters.radio, nullptr);  // dropped after the request
}

TEST(Connection, SelectDeviceSuspendsSavesAndReconnects) {
  Link l;
  l.manager.ConnectReader();
  l.RunUntil(1s);
  std::vector<std::string> steps;
  l.manager.Command6_Click(
      [&] {
        steps.push_back("open, suspended=" + std::to_string(l.manager.LinkSuspended));
        l.RunUntil(2s);  // the disconnect event only turns the label red
        steps.push_back(std::string("label ") + l.controls.linkColour);
        l.controls.SetCaption(Ctl::Label25, "COM5");
      },
      [&] { steps.push_back("saved"); });
  EXPECT_EQ(steps, (std::vector<std::string>{"open, suspended=1", "label red", "saved"}));
  EXPECT_EQ(l.manager.LinkSuspended, 0);
  EXPECT_EQ(std::pair(l.client.disconnects, l.client.connects), std::pair(1, 2));  // none while picking
  EXPECT_EQ(l.client.tried.back().address, "(COM5)");
  l.manager.LinkSuspended = 1;  // while suspended a connect event does nothing
  for (int e : {0, 10060}) l.manager.wclClient_OnConnect(e);
  EXPECT_EQ(l.controls.linkColour, "red");
  EXPECT_EQ(l.client.connects, 2);
}

// A session sent to the background lets the link go, open or under way, and
// tries nothing (not after a drop, nor after a reader is picked) until it is in front again.
TEST(Connection, ASessionInTheBackgroundLetsTheLinkGoUntilItIsInFrontAgain) {
  Link l;
  l.manager.ConnectReader();
  l.RunUntil(1s);
  for (bool open : {true, false}) {
    SCOPED_TRACE(open);
    const int connects = l.client.connects, disconnects = l.client.disconnects;
    if (!open) l.client.delay = 5s, l.client.Drop(), l.RunUntil(l.clock.now + 1s);  // an attempt under way
    EXPECT_EQ(l.client.state, open ? 2u : 1u);
    l.manager.SessionInFront(false), l.manager.SessionInFront(false);
    l.RunUntil(l.clock.now + 10s);
    l.manager.Command6_Click([] {}, [] {});
    l.RunUntil(l.clock.now + 10s);
    EXPECT_TRUE(l.manager.InBackground());
    EXPECT_EQ(l.client.state, 0u);
    EXPECT_EQ(l.controls.linkColour, "red");
    EXPECT_FALSE(l.timer3.enabled);
    EXPECT_EQ(l.client.connects, connects + (open ? 0 : 1));
    EXPECT_EQ(l.client.disconnects, disconnects + 2);  // the session's and the pick's
    l.client.delay = 50ms;
    l.manager.SessionInFront(true), l.manager.SessionInFront(true);
    l.RunUntil(l.clock.now + 3s);
    EXPECT_EQ(l.client.connects, connects + (open ? 1 : 2));
    EXPECT_EQ(l.controls.linkColour, "green");
  }
  EXPECT_EQ(std::count(l.log.events.begin(), l.log.events.end(),
                       "This session is in front again: the link is taken back"), 2);
  EXPECT_NE(std::find(l.log.events.begin(), l.log.events.end(),
                      "This session is no longer the one in front: the link is let go for the session in front"),
            l.log.events.end());
}

// The reader's commands, on an open link whose inactivity timeout is a minute.
struct Commands : Link {
  Commands() { client.state = 2, client.OnDisconnect = nullptr, controls.Preset(Ctl::Combo9, 1); }
};

// At the deadline B, the close command and S, with data arriving inside
// re-arming the deadline but not stopping the sequence; on a closed link each
// failed write is reported and the sequence goes on.
TEST(Commands, TheInactivitySequence) {
  Commands c;
  c.commands.ArmInactivityDeadline();
  c.clock.now = 64s;
  c.pump.At(64500ms, [&] { c.commands.ArmInactivityDeadline(); });
  c.commands.Timer3_Timer();
  EXPECT_EQ(c.client.written, (std::vector<W>{{{0x42}, 64000ms}, {{0x7C, 0x1E, 0x0D}, 64100ms}, {{0x53}, 65100ms}}));
  EXPECT_EQ(c.library.results, std::vector<std::int32_t>(3, 0));
  c.commands.ArmInactivityDeadline();
  c.clock.now = 200s, c.commands.Timer3_Timer();
  EXPECT_EQ(c.library.results, (std::vector<std::int32_t>{0, 0, 0, wcl::kNotConnected, wcl::kNotConnected, wcl::kNotConnected}));
  EXPECT_EQ(c.client.disconnects, 2);
}

// Now plus the minutes, a whole second of the day rounded half to even: it
// fires at that second and not 10 ms before, across midnight too; with no
// timeout never.
TEST(Commands, Deadlines) {
  for (auto [start, deadline] : {std::pair{1000.5, 1060.0}, {1001.5, 1062.0}, {86400 - 30.5, 86430.0}}) {
    for (const bool due : {false, true}) {
      Commands c;
      c.clock.startOfDay = start;
      c.commands.ArmInactivityDeadline();
      c.clock.now = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::duration<double>(deadline - start - (due ? 0.0 : 0.01)));
      c.commands.Timer3_Timer();
      EXPECT_EQ(c.client.written.size(), due ? 3u : 0u) << start << " " << due;
    }
  }
  Commands c;
  c.controls.Preset(Ctl::Combo9, 0);
  c.commands.ArmInactivityDeadline();
  c.clock.now = 24h;
  c.commands.Timer3_Timer();
  EXPECT_TRUE(c.client.written.empty());
}

}  // namespace
}  // namespace tarvik
