#include "link/connection.h"

#include <algorithm>
#include <variant>

#include "link/address.h"
#include "link/reader_commands.h"
#include "core/scoped_flag.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/services.h"

namespace tarvik {

using namespace std::chrono_literals;

Radio FirstRadio(wclBluetoothDiscovery& discovery) {
  std::vector<Radio> radios;
  const std::int32_t r = discovery.ListRadios(radios);
  return r == 0 && !radios.empty() ? radios.front() : nullptr;
}

Radio FindFirstRadio(wclBluetoothDiscovery& discovery, IDialogs& dialogs) {
  Radio radio = FirstRadio(discovery);
  if (!radio) dialogs.Inform("No Bluetooth API was found.");
  return radio;
}

namespace {

struct Depth {
  int& depth;
  Depth(int& d, int& max) : depth(d) { max = std::max(max, ++depth); }
  ~Depth() { --depth; }
};

}  // namespace

void ConnectionManager::WaitForSpacing() {
  if (!failedFast_) return;
  const auto until = attemptStart_ + kMinimumSpacing;
  // Events keep being processed: the user may open the selection window.
  while (!StandsAside() && !p_.pump.QuitRequested()) {
    p_.pump.ProcessPending();
    const auto now = p_.clock.Monotonic();
    if (now >= until || StandsAside()) break;
    p_.pump.WaitForEvent(until - now);
  }
}

void ConnectionManager::StartAttempt() {
  const std::string address = p_.controls.Caption(kAddressLabel);
  // Only a Bluetooth address needs a radio; a serial port or a network
  // reader is reached without one, and without the radio message.
  Radio radio;
  const auto parsed = ParseReaderAddress(address);
  if (parsed && std::holds_alternative<BluetoothAddress>(*parsed)) {
    // An adapter can be gone for a while (the computer waking, bluetoothd
    // or the driver restarting): the attempts go on and find it when it is
    // back. A box on each pass would stop them until someone clicked it.
    radio = FirstRadio(p_.discovery);
    if (!radio && !waitingForRadio_) LogEvent("No Bluetooth adapter is there: the link waits for one");
    if (radio && waitingForRadio_) LogEvent("A Bluetooth adapter is there again");
    waitingForRadio_ = !radio;
  }
  p_.client.Parameters.address = "(" + address + ")";
  p_.client.Parameters.radio = radio;
  p_.client.Parameters.service = p_.serviceText;
  attemptStart_ = p_.clock.Monotonic();
  failedFast_ = false;
  ++attempts_;
  attemptAddress_ = address;
  const std::int32_t result = p_.client.Connect();
  p_.library.ReportResult(result);
  if (result != 0) Failed(result);
  p_.client.Parameters.radio = nullptr;  // drop the radio
}

std::string ConnectionManager::Said(std::int32_t code) const {
  return std::to_string(code) + " (" + p_.library.Describe(code) + ")";
}

void ConnectionManager::LogEvent(const std::string& text) {
  if (unlogged_ > 0)
    p_.diag.Event("The failure before happened " + std::to_string(unlogged_) + " more times");
  unlogged_ = 0;
  repeats_ = 0;
  lastFailure_.clear();
  p_.diag.Event(text);
}

void ConnectionManager::Failed(std::int32_t code) {
  LogFailure(code);
  // A port the user may not open fails the same way every second forever;
  // what to do about it is said once, not with every attempt.
  if (advised_) return;
  const auto parsed = ParseReaderAddress(attemptAddress_);
  if (!parsed || !std::holds_alternative<SerialAddress>(*parsed)) return;
  const std::string advice = p_.library.SerialAdvice(code);
  if (advice.empty()) return;
  advised_ = true;
  p_.diag.Event(advice);
  p_.dialogs.Inform(advice);
}

void ConnectionManager::LogFailure(std::int32_t code) {
  const std::string line = "Connect to " + attemptAddress_ + " failed: " + Said(code);
  const auto now = p_.clock.Monotonic();
  if (line == lastFailure_ && ++repeats_ > kRepeatsLoggedInFull) {
    ++unlogged_;
    if (now - summaryAt_ < kRepeatSummaryEvery) return;
    p_.diag.Event("The failure before happened " + std::to_string(unlogged_) + " more times");
    unlogged_ = 0;
    summaryAt_ = now;
    return;
  }
  if (line != lastFailure_) {
    LogEvent(line);
    lastFailure_ = line;
    repeats_ = 1;
  } else {
    p_.diag.Event(line);
  }
  summaryAt_ = now;
}

void ConnectionManager::ConnectReader() {
  Depth d(depth_, maxDepth_);
  if (running_) {
    again_ = true;
    return;
  }
  ScopedFlag running(running_);
  while (!StandsAside() && !p_.pump.QuitRequested()) {
    again_ = false;
    // At most one attempt at a time: one is under way, or the link is open.
    if (p_.client.State() != 0) return;
    WaitForSpacing();
    if (StandsAside()) return;
    if (p_.client.State() != 0) return;
    StartAttempt();
    if (p_.client.State() != 0) return;
    // The request could not even start the attempt.
    failedFast_ = true;
    p_.pump.ProcessPending();
  }
}

void ConnectionManager::wclClient_OnConnect(std::int32_t error) {
  Depth d(depth_, maxDepth_);
  if (StandsAside()) return;
  if (error != 0) {
    Failed(error);
    failedFast_ = p_.clock.Monotonic() - attemptStart_ < kMinimumSpacing;
    ConnectReader();
    return;
  }
  LogEvent("Link to " + attemptAddress_ + " open");
  linkOpen_ = true;
  openedAt_ = p_.clock.Monotonic();
  p_.timer3.SetEnabled(true);
  p_.commands.ArmInactivityDeadline();
  p_.controls.SetLinkColour(true);
  // The greeting (feedback, sound) waits; a link that opens again while an
  // earlier greeting waits is greeted by that same loop, so a reader that
  // keeps connecting and dropping cannot pile handlers on the stack.
  greetAgain_ = true;
  if (greeting_) return;
  ScopedFlag greeting(greeting_);
  while (greetAgain_ && !p_.pump.QuitRequested()) {
    greetAgain_ = false;
    if (p_.controls.CheckValue(kFeedbackBox) == 1) {
      // 1500 ms after this link opened, then the feedback's own 200 ms.
      const auto since = p_.clock.Monotonic() - openedAt_;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(1500ms - since);
      Pause(p_.pump, p_.clock, left.count() > 0 ? static_cast<int>(left.count()) : 0);
      if (greetAgain_) continue;  // it dropped and opened again meanwhile
      p_.commands.SendFeedback();
    }
    if (p_.controls.CheckValue(kBeepBox) == 1) p_.sound.PlayFile(p_.programFile("beep1.wav"));
  }
}

void ConnectionManager::wclClient_OnDisconnect() {
  Depth d(depth_, maxDepth_);
  const std::int32_t reason = p_.client.DropReason();
  LogEvent("Link to " + attemptAddress_ + (reason == 0 ? " closed" : " dropped: " + Said(reason)));
  linkOpen_ = false;
  p_.timer3.SetEnabled(false);
  p_.controls.SetLinkColour(false);
  p_.pump.ProcessPending();
  if (!StandsAside()) ConnectReader();
}

void ConnectionManager::Command6_Click(const std::function<void()>& pick,
                                       const std::function<void()>& save) {
  p_.timer3.SetEnabled(false);
  LinkSuspended = 1;
  LogEvent("The link stands aside while a reader is picked");
  p_.client.Disconnect();
  pick();
  save();
  LinkSuspended = 0;
  failedFast_ = false;  // the user asked for it: try at once
  ConnectReader();
}

void ConnectionManager::Resumed() {
  LogEvent(linkOpen_ ? "Resumed from sleep: the link is opened again" : "Resumed from sleep");
  if (linkOpen_) p_.client.Disconnect();
}

void ConnectionManager::SessionInFront(bool front) {
  if (front != background_) return;
  background_ = !front;
  if (!front) {
    LogEvent(linkOpen_ ? "This session is no longer the one in front: the link is let go for the session in front"
                       : "This session is no longer the one in front: no link is tried until it is again");
    p_.timer3.SetEnabled(false);
    p_.client.Disconnect();
    return;
  }
  LogEvent("This session is in front again: the link is taken back");
  failedFast_ = false;
  ConnectReader();
}

}  // namespace tarvik
