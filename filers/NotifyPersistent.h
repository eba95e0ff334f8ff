// TNotifyPersistent: the root of the filers and the scene data holders. A
// change notification fires through OnChange unless an update is in progress.
#pragma once

#include <functional>

namespace skyfold {

class TNotifyPersistent {
 public:
  using TNotifyEvent = std::function<void(TNotifyPersistent* sender)>;

  virtual ~TNotifyPersistent() = default;

  // Calls OnChange(this) when UpdateCount is 0 and OnChange is set.
  virtual void Changed();
  virtual void BeginUpdate();
  // UpdateCount − 1, then Changed.
  virtual void EndUpdate();
  // Changed unless other is this object.
  virtual void ChangedBy(TNotifyPersistent* other);

  TNotifyEvent OnChange;
  int UpdateCount = 0;
};

}  // namespace skyfold
