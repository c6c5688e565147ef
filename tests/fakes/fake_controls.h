// In-memory controls of the main window: lists, check boxes, labels and the
// window state, raising change handlers the way the real controls do.
#pragma once
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/controls.h"

namespace tarvik::testing {

class FakeControls : public IControls {
 public:
  struct List {
    std::vector<std::string> items;
    int index = -1;
  };

  void AddItem(Ctl list, std::string_view text) override { lists_[list].items.emplace_back(text); }
  int ListCount(Ctl list) const override { return static_cast<int>(Get(list).items.size()); }
  int ListIndex(Ctl list) const override { return Get(list).index; }
  void SetListIndex(Ctl list, int index) override {
    auto& l = lists_[list];
    if (index < -1 || index >= static_cast<int>(l.items.size()))
      throw std::out_of_range("list index outside the list");
    if (l.index == index) return;
    l.index = index;
    if (onChange) onChange(list);
  }
  std::string ItemText(Ctl list, int index) const override { return Get(list).items.at(index); }
  int CheckValue(Ctl box) const override {
    auto it = checks_.find(box);
    return it == checks_.end() ? 1 : it->second;
  }
  void SetCheckValue(Ctl box, int value) override {
    if (CheckValue(box) == value) return;
    checks_[box] = value;
    if (onChange) onChange(box);
  }
  std::string Caption(Ctl label) const override {
    auto it = captions_.find(label);
    return it == captions_.end() ? std::string() : it->second;
  }
  void SetCaption(Ctl label, std::string_view text) override { captions_[label] = std::string(text); }
  bool IsMinimized() const override { return minimized; }
  void SetLinkColour(bool open) override { linkColour = open ? "green" : "red"; }

  // Sets a selection without raising anything (test setup).
  void Preset(Ctl list, int index) { lists_[list].index = index; }

  bool minimized = false;
  std::string linkColour = "red";
  std::function<void(Ctl)> onChange;

 private:
  const List& Get(Ctl list) const {
    static const List empty;
    auto it = lists_.find(list);
    return it == lists_.end() ? empty : it->second;
  }
  std::map<Ctl, List> lists_;
  std::map<Ctl, int> checks_;
  std::map<Ctl, std::string> captions_;
};

}  // namespace tarvik::testing
