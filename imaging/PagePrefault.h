// PagePrefault: maps the pages of a large, freshly allocated buffer on a
// worker of the run while the caller starts filling it from the front. The
// kernel's page faults (allocating and zeroing each page) then run on
// another core instead of inside a single-threaded decoder. Contents are
// never touched, so the caller may write the buffer at the same time.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "imaging/Parallel.h"

namespace skyfold {

class PagePrefault {
 public:
  // Does nothing for small buffers, with one thread, or where the kernel
  // cannot populate pages without writing them.
  PagePrefault(void* data, std::size_t size, const Workers& workers);
  ~PagePrefault();  // stops the task (or drops it if no worker took it)
  PagePrefault(const PagePrefault&) = delete;
  PagePrefault& operator=(const PagePrefault&) = delete;

 private:
  std::shared_ptr<std::atomic<bool>> stop_;
  Task<void> task_;
};

}  // namespace skyfold
