// Fuzzes pelrin.ini through the real SettingsKeeper: whatever a load reads, a
// save writes and a load reads back the same.
//
// The input is the file's bytes. A window starts on it as the program does
// (lists filled by creacombo, then leggiconf), must hold only valid values,
// must hold exactly what the parser read where that was in range, and is
// saved; a fresh window starts on the saved bytes and is saved again. The two
// saved files must be byte-identical and the two windows must agree on every
// control and on the device address.
//
// Both windows are made once, their lists filled; each input puts their
// controls back where creacombo left them, raising no change handler, which
// costs a few look-ups instead of filling every list again.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/fuzz_target.h"
#include "fakes/fake_settings.h"
#include "settings/settings_file.h"

namespace {

using namespace tarvik;
using Window = tarvik::testing::SettingsWindow;

constexpr Ctl kControls[] = {Ctl::Check1, Ctl::Check2, Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4,
                             Ctl::Combo5, Ctl::Combo6, Ctl::Combo7, Ctl::Combo8, Ctl::Combo9};
// The control behind each number of the file, in file order.
constexpr Ctl kHolderOfField[kFieldCount] = {
    Ctl::Check1, Ctl::Check2, Ctl::Combo6, Ctl::Combo1, Ctl::Combo8, Ctl::Combo7,
    Ctl::Combo2, Ctl::Combo4, Ctl::Combo3, Ctl::Combo5, Ctl::Combo9};
constexpr int kChecked = 1;

bool IsBox(Ctl c) { return c == Ctl::Check1 || c == Ctl::Check2; }
// A check box holds 0 or 1, a list an index inside it.
bool Fits(const Window& w, Ctl c, int v) { return v >= 0 && v <= (IsBox(c) ? kChecked : w.controls.ListCount(c) - 1); }

// The window as creacombo leaves it, before any file: what every input starts from.
struct Start {
  explicit Start(const Window& w) : address(w.deviceAddress), ready(w.settingsReady) {
    for (std::size_t i = 0; i < std::size(kControls); ++i) values[i] = w.Value(kControls[i]);
  }
  int values[std::size(kControls)];
  std::string address;
  std::int16_t ready;
};

// Back to the start with `file` in the store.
void Restart(Window& w, const Start& start, std::string_view file) {
  const auto onChange = std::exchange(w.controls.onChange, nullptr);
  for (std::size_t i = 0; i < std::size(kControls); ++i) {
    if (IsBox(kControls[i])) w.controls.SetCheckValue(kControls[i], start.values[i]);
    else w.controls.Preset(kControls[i], start.values[i]);
  }
  w.controls.onChange = onChange;
  w.controls.SetCaption(Ctl::Label25, {});
  w.deviceAddress = start.address;
  w.settingsReady = start.ready;
  w.store.content.emplace(file);
}

// Frees what the input left, within the input: libFuzzer runs an input again
// to look for leaks when it allocated more than it freed.
void Finish(Window& w) {
  w.controls.SetCaption(Ctl::Label25, {});
  w.deviceAddress = {};
  w.store.content.reset();
  w.store.history = {};
  w.events = {};
}

std::string Save(Window& w) {
  w.keeper.salvaconf();
  Require(w.store.content.has_value(), "a save left no file");
  return *w.store.content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Window first(std::nullopt, false), second(std::nullopt, false);
  static const Start start(first);
  const std::string file(reinterpret_cast<const char*>(data), size);

  Restart(first, start, file);
  int before[kFieldCount];
  for (int f = 0; f < kFieldCount; ++f) before[f] = first.Value(kHolderOfField[f]);
  const std::string addressBefore = first.deviceAddress;
  first.keeper.leggiconf();
  for (Ctl c : kControls) Require(Fits(first, c, first.Value(c)), "a control holds a value outside its range");

  // What was read and fits its control is applied; anything else leaves the
  // control as the lists were filled.
  const ParsedSettings read = ParseSettings(file);
  for (int f = 0; f < kFieldCount; ++f) {
    const auto& v = read.numbers[f];
    const bool fits = v && Fits(first, kHolderOfField[f], *v);
    Require(first.Value(kHolderOfField[f]) == (fits ? *v : before[f]), "a control does not hold what was read");
  }
  const std::string expectedAddress =
      read.address ? first.codePage.Decode({reinterpret_cast<const std::uint8_t*>(read.address->data()),
                                            read.address->size()})
                   : addressBefore;
  Require(first.deviceAddress == expectedAddress, "the device address is not what was read");
  Require(first.controls.Caption(Ctl::Label25) == first.deviceAddress,
          "the address label does not show the device address");

  const std::string saved = Save(first);
  const ParsedSettings savedRead = ParseSettings(saved);
  for (const auto& v : savedRead.numbers) Require(v.has_value(), "a saved number cannot be read back");
  Require(savedRead.address.has_value(), "the saved address cannot be read back");

  Restart(second, start, saved);
  second.keeper.leggiconf();
  Require(saved == Save(second), "saving what a save wrote gives other bytes");
  for (Ctl c : kControls) Require(first.Value(c) == second.Value(c), "a control differs after reloading");
  Require(first.deviceAddress == second.deviceAddress, "the device address differs after reloading");
  Require(first.controls.Caption(Ctl::Label25) == second.controls.Caption(Ctl::Label25),
          "the address label differs after reloading");
  Finish(first);
  Finish(second);
  return 0;
}
