// The three small control interfaces a facade binds its properties to. The
// window implements them over Qt widgets, tests over plain objects; the core
// never sees a widget. Getters read the live state at the moment of the call.
#pragma once

#include <string>

namespace skyfold {

class IEditControl {
 public:
  virtual ~IEditControl() = default;
  virtual std::string GetText() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

class IRadioGroupControl {
 public:
  virtual ~IRadioGroupControl() = default;
  virtual int GetItemIndex() const = 0;
  // The facades hand an ordinal as an unsigned byte; an index past the last
  // item selects the last item (the group keeps its selection in range).
  virtual void SetItemIndex(int index) = 0;
};

class ICheckBoxControl {
 public:
  virtual ~ICheckBoxControl() = default;
  virtual bool GetChecked() const = 0;
  virtual void SetChecked(bool checked) = 0;
};

}  // namespace skyfold
