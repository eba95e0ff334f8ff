#include "filers/NotifyPersistent.h"

namespace skyfold {

void TNotifyPersistent::Changed() {
  if (UpdateCount == 0 && OnChange) OnChange(this);
}

void TNotifyPersistent::BeginUpdate() { ++UpdateCount; }

void TNotifyPersistent::EndUpdate() {
  --UpdateCount;
  Changed();
}

void TNotifyPersistent::ChangedBy(TNotifyPersistent* other) {
  if (other != this) Changed();
}

}  // namespace skyfold
