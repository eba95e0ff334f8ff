// CancelToken: how a run is asked to stop. The front end sets it (a button,
// a signal); the run's loops check it between rows, bands, faces and files,
// and Check throws Cancelled, which unwinds the run like any failure: what
// it had begun writing is removed, nothing is committed.
#pragma once

#include <atomic>

#include "imaging/Errors.h"

namespace skyfold {

class Cancelled : public Error {
 public:
  Cancelled() : Error("キャンセルしました。") {}
};

class CancelToken {
 public:
  // Safe to call from any thread and from a signal handler.
  void Cancel() noexcept { flag_.store(true, std::memory_order_relaxed); }
  bool IsCancelled() const noexcept { return flag_.load(std::memory_order_relaxed); }
  // Throws Cancelled once Cancel was called.
  void Check() const {
    if (IsCancelled()) throw Cancelled();
  }

 private:
  std::atomic<bool> flag_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

// Check a token that may be absent.
inline void CheckCancel(const CancelToken* token) {
  if (token != nullptr) token->Check();
}

}  // namespace skyfold
