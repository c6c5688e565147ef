// Fuzzes pelrin.ini through the real SettingsKeeper: whatever a load reads, a
// save writes and a load reads back the same.
//
// The input is the file's bytes. A window starts on it as the program does
// (lists filled by creacombo, then leggiconf), must hold only valid values,
// must hold exactly what the parser read where that was in range, and is
// saved; a fresh window starts on the saved bytes and is saved again. The two
// saved files must be byte-identical and the two windows must agree on every
// control and on the device address.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "fakes/fake_pump.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "wedge/option_lists.h"

namespace {

using namespace tarvik;
using tarvik::testing::FakeClock;
using tarvik::testing::FakeControls;
using tarvik::testing::FakeDecoder;
using tarvik::testing::FakePump;

constexpr Ctl kBoxes[] = {Ctl::Check1, Ctl::Check2};
constexpr Ctl kLists[] = {Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4, Ctl::Combo5,
                          Ctl::Combo6, Ctl::Combo7, Ctl::Combo8, Ctl::Combo9};
// The control behind each number of the file, in file order.
constexpr Ctl kHolderOfField[kFieldCount] = {
    Ctl::Check1, Ctl::Check2, Ctl::Combo6, Ctl::Combo1, Ctl::Combo8, Ctl::Combo7,
    Ctl::Combo2, Ctl::Combo4, Ctl::Combo3, Ctl::Combo5, Ctl::Combo9};
constexpr int kUnchecked = 0;
constexpr int kChecked = 1;

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "settings_fuzz: %s\n", what);
  std::abort();
}

bool IsBox(Ctl c) { return c == Ctl::Check1 || c == Ctl::Check2; }

// One file whose writes replace it whole.
class OneFile : public ISettingsStore {
 public:
  explicit OneFile(std::string bytes) : content(std::move(bytes)) {}
  bool Exists() const override { return content.has_value(); }
  std::optional<std::string> Read() const override { return content; }
  bool Write(const std::string& bytes) override {
    content = bytes;
    return true;
  }
  std::optional<std::string> content;
};

struct Window {
  explicit Window(std::string file) : store(std::move(file)) {
    controls.onChange = [this](Ctl c) { keeper.OnControlChanged(c); };
  }
  // The start-up order: the lists filled with the flag down, then the load.
  void FillLists() { creacombo(controls, pump, settingsReady); }
  void Load() { keeper.leggiconf(); }
  std::string Save() {
    keeper.salvaconf();
    Require(store.content.has_value(), "a save left no file");
    return *store.content;
  }
  int Value(Ctl c) const { return IsBox(c) ? controls.CheckValue(c) : controls.ListIndex(c); }

  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  OneFile store;
  FakeDecoder codePage;  // Latin-1: every byte is a character and comes back as itself
  std::int16_t settingsReady = 0;
  std::string deviceAddress;
  SettingsKeeper keeper{{controls, pump, store, codePage, settingsReady, deviceAddress, [] {}}};
};

void RequireValidWindow(const Window& w) {
  for (Ctl c : kBoxes) {
    const int v = w.controls.CheckValue(c);
    Require(v == kUnchecked || v == kChecked, "a check box holds neither 0 nor 1");
  }
  for (Ctl c : kLists) {
    const int i = w.controls.ListIndex(c);
    Require(i >= 0 && i < w.controls.ListCount(c), "a list index outside its list");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);

  Window first(file);
  first.FillLists();
  int before[kFieldCount];
  for (int f = 0; f < kFieldCount; ++f) before[f] = first.Value(kHolderOfField[f]);
  const std::string addressBefore = first.deviceAddress;
  first.Load();
  RequireValidWindow(first);

  // What was read and fits its control is applied; anything else leaves the
  // control as the lists were filled.
  const ParsedSettings read = ParseSettings(file);
  for (int f = 0; f < kFieldCount; ++f) {
    const Ctl c = kHolderOfField[f];
    const auto& v = read.numbers[f];
    const bool fits = v && (IsBox(c) ? (*v == kUnchecked || *v == kChecked)
                                     : (*v >= 0 && *v < first.controls.ListCount(c)));
    Require(first.Value(c) == (fits ? *v : before[f]), "a control does not hold what was read");
  }
  const std::string expectedAddress =
      read.address ? first.codePage.Decode({reinterpret_cast<const std::uint8_t*>(read.address->data()),
                                            read.address->size()})
                   : addressBefore;
  Require(first.deviceAddress == expectedAddress, "the device address is not what was read");
  Require(first.controls.Caption(Ctl::Label25) == first.deviceAddress,
          "the address label does not show the device address");

  const std::string saved = first.Save();
  const ParsedSettings savedRead = ParseSettings(saved);
  for (const auto& v : savedRead.numbers) Require(v.has_value(), "a saved number cannot be read back");
  Require(savedRead.address.has_value(), "the saved address cannot be read back");

  Window second(saved);
  second.FillLists();
  second.Load();
  const std::string savedAgain = second.Save();

  Require(saved == savedAgain, "saving what a save wrote gives other bytes");
  for (Ctl c : kBoxes) Require(first.Value(c) == second.Value(c), "a check box differs after reloading");
  for (Ctl c : kLists) Require(first.Value(c) == second.Value(c), "a list differs after reloading");
  Require(first.deviceAddress == second.deviceAddress, "the device address differs after reloading");
  Require(first.controls.Caption(Ctl::Label25) == second.controls.Caption(Ctl::Label25),
          "the address label differs after reloading");
  return 0;
}
