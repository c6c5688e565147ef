// The services the logic talks to, simulated, each recording what the program
// asked of it.
#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "link/wireless.h"
#include "core/diagnostics.h"
#include "core/dialogs.h"
#include "core/services.h"
#include "core/utf8.h"
#include "fakes/fake_pump.h"

namespace tarvik::testing {

class FakeClient : public wclClient {
 public:
  struct Written {
    std::vector<std::uint8_t> bytes;
    std::chrono::milliseconds at;
    bool operator==(const Written&) const = default;
  };
  explicit FakeClient(const FakeClock& clock) : clock_(clock) {}

  std::int32_t Connect() override { return ++connects, state = 1, 0; }
  std::uint32_t State() const override { return state; }
  std::int32_t Write(std::span<const std::uint8_t> bytes) override {
    written.push_back({{bytes.begin(), bytes.end()},
                       std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now)});
    return state == 2 ? 0 : wcl::kNotConnected;
  }
  void Disconnect() override { ++disconnects, state = 0; }
  std::int32_t DropReason() const override { return dropReason; }

  std::uint32_t state = 2;
  std::int32_t dropReason = 0;
  int connects = 0, disconnects = 0;
  std::vector<Written> written;

 private:
  const FakeClock& clock_;
};

class FakeLibrary : public LibraryManager {
 public:
  std::int32_t Open() override { return 0; }
  std::int32_t Close() override { return 0; }
  void ReportResult(std::int32_t code) override { results.push_back(code); }
  std::string SerialAdvice(std::int32_t code) const override {
    return code == adviceFor ? "Join the group that owns serial ports." : "";
  }
  std::vector<std::int32_t> results;
  std::int32_t adviceFor = -1;
};

// Lists its radio while it has one; keeps what the last discovery asked for.
struct FakeDiscovery : wclBluetoothDiscovery {
  struct AnyRadio : IRadio {};
  std::int32_t ListRadios(std::vector<Radio>& r) override {
    if (++lists, radio) r.push_back(radio);
    return radio ? 0 : 120;
  }
  std::int32_t Discover(const Radio&, std::uint8_t timeout, std::uint32_t flags) override {
    return lastTimeout = timeout, lastFlags = flags, 0;
  }
  Radio radio = std::make_shared<AnyRadio>();
  int lists = 0, lastTimeout = -1;
  std::uint32_t lastFlags = 99;
};

struct FakeDevice : IDiscoveredDevice {
  FakeDevice(std::string a, std::string n, std::int32_t r = 0) : address(std::move(a)), name(std::move(n)), result(r) {}
  std::string Address() const override { return address; }
  std::string ReadName(const Radio&, std::int32_t& r) const override { return r = result, name; }
  std::string address, name;
  std::int32_t result;
};

class FakeTimer : public ITimer {
 public:
  void SetEnabled(bool e) override { changes.push_back(enabled = e); }
  bool enabled = false;
  std::vector<bool> changes;
};

// Plays by taking its time, as the synchronous system call does.
class FakeSound : public ISound {
 public:
  FakeSound(FakePump& pump, FakeClock& clock) : pump_(pump), clock_(clock) {}
  void PlayFile(const std::string& path) override { played.push_back(path), Pause(pump_, clock_, lengthMs); }
  std::vector<std::string> played;
  int lengthMs = 0;

 private:
  FakePump& pump_;
  FakeClock& clock_;
};

// Latin-1, or with dbcs on a double-byte code page of its own: a byte from
// 0x81 to 0x9F leads, and with the byte after it makes one character.
class FakeDecoder : public ICodePage {
 public:
  std::string Decode(std::span<const std::uint8_t> bytes) const override {
    std::u32string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::uint8_t b = bytes[i];
      if (!dbcs || b < 0x81 || b > 0x9F) out.push_back(b);
      else if (i + 1 == bytes.size()) out.push_back(kReplacementChar);  // a lead byte without its trail
      else out.push_back(0x4E00 + (b - 0x81) * 256 + bytes[++i]);
    }
    return EncodeUtf8(out);
  }
  // Latin-1; what it lacks becomes "?".
  std::string Encode(std::string_view utf8) const override {
    std::string out;
    for (char32_t c : DecodeUtf8(utf8)) out += c < 0x100 ? static_cast<char>(c) : '?';
    return out;
  }
  bool dbcs = false;
};

inline std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

class FakeDialogs : public IDialogs {
 public:
  void Inform(const std::string& text) override { informed.push_back(text); }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    asked.push_back(caption + " " + text);
    return answer;
  }
  void Beep() override { ++beeps; }
  std::vector<std::string> informed, asked;
  bool answer = false;
  int beeps = 0;
};

class FakeNotice : public INotice {
 public:
  void Warn(const std::string& text) override { warnings.push_back(text), calls.push_back("warn"); }
  void Typed() override { calls.push_back("typed"); }
  std::vector<std::string> warnings;
  std::vector<std::string> calls;  // "warn" and "typed", in order
};

class RecordingLog : public IDiagnostics {
 public:
  void Event(std::string_view text) override { events.emplace_back(text); }
  std::string Text() const {  // one event a line
    std::string out;
    for (const auto& e : events) out += e + "\n";
    return out;
  }
  std::vector<std::string> events;
};

}  // namespace tarvik::testing
