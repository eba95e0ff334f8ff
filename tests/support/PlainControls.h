// Plain-object implementations of the facades' control interfaces, for
// tests that drive TSkyfoldFiler / TCube2PanoFiler without a window.
#pragma once

#include <algorithm>
#include <string>

#include "filers/FilerControls.h"

namespace skyfold::test {

class PlainEdit : public IEditControl {
 public:
  std::string GetText() const override { return text; }
  void SetText(const std::string& t) override { text = t; }
  std::string text;
};

class PlainRadioGroup : public IRadioGroupControl {
 public:
  explicit PlainRadioGroup(int count, int index = 0) : itemCount(count), itemIndex(index) {}
  int GetItemIndex() const override { return itemIndex; }
  void SetItemIndex(int index) override { itemIndex = std::clamp(index, -1, itemCount - 1); }
  int itemCount;
  int itemIndex;
};

class PlainCheckBox : public ICheckBoxControl {
 public:
  bool GetChecked() const override { return checked; }
  void SetChecked(bool c) override { checked = c; }
  bool checked = false;
};

}  // namespace skyfold::test
