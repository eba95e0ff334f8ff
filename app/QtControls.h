// Adapters that let the facades read and write the window's Qt widgets
// through the control interfaces of the core (UTF-8 std::string ⇄ QString).
// They do not own their widget and always report its live state.
#pragma once

#include "filers/FilerControls.h"

class QCheckBox;
class QLineEdit;

namespace skyfold {

class TRadioGroup;

class QtEditControl : public IEditControl {
 public:
  explicit QtEditControl(QLineEdit* edit) : edit_(edit) {}
  std::string GetText() const override;
  void SetText(const std::string& text) override;

 private:
  QLineEdit* edit_;
};

class QtRadioGroupControl : public IRadioGroupControl {
 public:
  explicit QtRadioGroupControl(TRadioGroup* group) : group_(group) {}
  int GetItemIndex() const override;
  void SetItemIndex(int index) override;

 private:
  TRadioGroup* group_;
};

class QtCheckBoxControl : public ICheckBoxControl {
 public:
  explicit QtCheckBoxControl(QCheckBox* box) : box_(box) {}
  bool GetChecked() const override;
  void SetChecked(bool checked) override;

 private:
  QCheckBox* box_;
};

}  // namespace skyfold
