// Binds a filer to a run of its own with a given number of threads for as
// long as the object lives, as the engine does for a job.
#pragma once

#include "filers/RunContext.h"
#include "filers/SimFilers.h"

namespace skyfold::test {

class ScopedRun {
 public:
  ScopedRun(TSimFiler& filer, int threads) : run_(threads), filer_(filer) {
    filer_.UseRunContext(&run_);
  }
  ~ScopedRun() { filer_.UseRunContext(nullptr); }
  ScopedRun(const ScopedRun&) = delete;
  ScopedRun& operator=(const ScopedRun&) = delete;
  RunContext& context() { return run_; }

 private:
  RunContext run_;
  TSimFiler& filer_;
};

}  // namespace skyfold::test
