// In-memory controls of the main window: lists, check boxes, labels and the
// window state, raising change handlers the way the real controls do; and
// the window as the program has it after the load, minimized to the tray.
#pragma once
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "core/controls.h"
#include "fakes/fake_pump.h"
#include "keys/option_lists.h"

namespace tarvik::testing {

class FakeControls : public IControls {
 public:
  void AddItem(Ctl list, std::string_view text) override { items_[list].emplace_back(text); }
  int ListCount(Ctl list) const override {
    const auto it = items_.find(list);
    return it == items_.end() ? 0 : static_cast<int>(it->second.size());
  }
  int ListIndex(Ctl list) const override { return Find(index_, list, -1); }
  void SetListIndex(Ctl list, int index) override {
    if (index < -1 || index >= ListCount(list)) throw std::out_of_range("list index outside the list");
    if (ListIndex(list) != index) index_[list] = index, Changed(list);
  }
  std::string ItemText(Ctl list, int index) const override { return items_.at(list).at(index); }
  int CheckValue(Ctl box) const override { return Find(checks_, box, 1); }
  void SetCheckValue(Ctl box, int value) override {
    if (CheckValue(box) != value) checks_[box] = value, Changed(box);
  }
  std::string Caption(Ctl label) const override { return Find(captions_, label, std::string()); }
  void SetCaption(Ctl label, std::string_view text) override { captions_[label] = std::string(text); }
  bool TypesRecords() const override { return typesRecords; }
  void SetLinkColour(bool open) override { linkColour = open ? "green" : "red"; }

  // Sets a selection without raising anything (test setup).
  void Preset(Ctl list, int index) { index_[list] = index; }

  bool typesRecords = false;  // the window out of sight
  std::string linkColour = "red";
  std::function<void(Ctl)> onChange;

 private:
  template <class V>
  static V Find(const std::map<Ctl, V>& m, Ctl c, std::type_identity_t<V> otherwise) {
    const auto it = m.find(c);
    return it == m.end() ? otherwise : it->second;
  }
  void Changed(Ctl c) {
    if (onChange) onChange(c);
  }
  std::map<Ctl, std::vector<std::string>> items_;
  std::map<Ctl, int> index_, checks_;
  std::map<Ctl, std::string> captions_;
};

struct FilledWindow {
  FilledWindow() {
    std::int16_t ready = 0;
    creacombo(controls, pump, ready);
    controls.typesRecords = true;
  }
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
};

}  // namespace tarvik::testing
