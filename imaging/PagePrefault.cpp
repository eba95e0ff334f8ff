#include "imaging/PagePrefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

namespace skyfold {
namespace {

constexpr std::size_t kMinSize = std::size_t{16} << 20;
constexpr std::size_t kChunk = std::size_t{2} << 20;

}  // namespace

PagePrefault::PagePrefault(void* data, std::size_t size, const Workers& workers)
    : stop_(std::make_shared<std::atomic<bool>>(false)) {
  if (data == nullptr || size < kMinSize || workers.Count() < 2) return;
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  // Only whole pages inside the buffer: the first partial page may be shared
  // with other data, which must not be touched by madvise.
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
  if (begin >= end) return;
  task_ = workers.Submit([stop = stop_, begin, end] {
    for (std::uintptr_t p = begin; p < end && !stop->load(std::memory_order_relaxed); p += kChunk) {
      const std::size_t length = end - p < kChunk ? end - p : kChunk;
      // Unsupported (old kernel) or anything else: leave it to the writer.
      if (madvise(reinterpret_cast<void*>(p), length, MADV_POPULATE_WRITE) != 0) return;
    }
  });
}

PagePrefault::~PagePrefault() {
  stop_->store(true);
  task_.Abandon();
}

}  // namespace skyfold
