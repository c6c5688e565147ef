// pelrin.ini in memory, and the main window's settings as the program starts
// them: the lists filled with the ready flag down, then the file loaded.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "settings/settings.h"
#include "keys/option_lists.h"

namespace tarvik::testing {

// One file whose writes replace it whole, or fail whole.
struct FakeStore : ISettingsStore {
  bool Exists() const override { return content.has_value(); }
  std::optional<std::string> Read() const override { return content; }
  bool Write(const std::string& bytes) override {
    if (onWrite) onWrite();
    if (!failWrites) history.push_back(*(content = bytes));
    return !failWrites;
  }
  std::string Describe() const override { return "C:\\WINDOWS\\pelrin.ini"; }
  std::string LastError() const override { return "Access is denied. (error 5)"; }
  std::optional<std::string> content;
  std::vector<std::string> history;
  bool failWrites = false;
  std::function<void()> onWrite;
};

struct SettingsWindow {
  explicit SettingsWindow(std::optional<std::string> file = std::nullopt, bool load = true) {
    store.content = std::move(file);
    controls.onChange = [this](Ctl c) {
      events.push_back(c == Ctl::Combo9 ? "change Combo9" : "change");
      keeper.OnControlChanged(c);
    };
    creacombo(controls, pump, settingsReady);
    if (load) keeper.leggiconf();
  }
  int Value(Ctl c) const {
    return c == Ctl::Check1 || c == Ctl::Check2 ? controls.CheckValue(c) : controls.ListIndex(c);
  }
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  FakeStore store;
  FakeDecoder codePage;  // Latin-1: every byte is a character and comes back as itself
  std::int16_t settingsReady = 0;
  std::string deviceAddress;
  std::vector<std::string> events;
  SettingsKeeper keeper{{controls, pump, store, codePage, settingsReady, deviceAddress,
                         [this] { events.push_back("arm"); }}};
};

}  // namespace tarvik::testing
