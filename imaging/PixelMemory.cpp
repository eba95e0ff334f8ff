#include "imaging/PixelMemory.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#define SKYFOLD_MAPPED_BLOCKS 1
#endif

namespace skyfold {

namespace detail {

struct Kept {
  std::uint8_t* data;
  std::size_t capacity;
};

struct PoolState {
  explicit PoolState(std::size_t keep) : keepAtMost(keep) {}
  std::mutex mutex;
  std::vector<Kept> kept;
  std::size_t keptBytes = 0;
  std::size_t keepAtMost;
  bool open = true;  // false once the pool's run is over
};

}  // namespace detail

namespace {

constexpr std::size_t kLargeBlock = std::size_t{8} << 20;
constexpr std::size_t kPage = std::size_t{4} << 10;
constexpr std::size_t kKeepBlocks = 8;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

#ifdef SKYFOLD_MAPPED_BLOCKS
void Unmap(std::uint8_t* p, std::size_t capacity) noexcept { munmap(p, capacity); }

// `capacity` bytes starting on a huge-page boundary, marked for huge pages:
// one fault then maps 2 MB instead of 4 KB, which on a virtual machine cuts
// the cost of first touch several times over. Null when nothing is mapped.
std::uint8_t* MapBlock(std::size_t capacity) noexcept {
  const std::size_t span = capacity + kHugePage;
  void* m = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  auto* base = static_cast<std::uint8_t*>(m);
  const std::size_t head =
      (kHugePage - reinterpret_cast<std::uintptr_t>(base) % kHugePage) % kHugePage;
  if (head != 0) munmap(base, head);
  munmap(base + head + capacity, kHugePage - head);
  AdviseHugePages(base + head, capacity);
  return base + head;
}

// The front of the smallest kept block that holds `capacity` (a whole
// number of pages), taken out of the pool. What lies beyond stays kept as a
// block of its own when it is large itself: a mapping can be split at any
// page, and each piece is given back on its own.
std::uint8_t* TakeKept(detail::PoolState& pool, std::size_t capacity) {
  std::lock_guard lock(pool.mutex);
  auto best = pool.kept.end();
  for (auto it = pool.kept.begin(); it != pool.kept.end(); ++it) {
    if (it->capacity >= capacity && (best == pool.kept.end() || it->capacity < best->capacity)) {
      best = it;
    }
  }
  if (best == pool.kept.end()) return nullptr;
  std::uint8_t* p = best->data;
  const std::size_t rest = best->capacity - capacity;
  if (rest >= kLargeBlock) {
    best->data += capacity;
    best->capacity = rest;
    pool.keptBytes -= capacity;
    return p;
  }
  if (rest != 0) Unmap(p + capacity, rest);
  pool.keptBytes -= best->capacity;
  pool.kept.erase(best);
  return p;
}

void ReleaseAll(detail::PoolState& pool) {
  std::vector<detail::Kept> kept;
  {
    std::lock_guard lock(pool.mutex);
    kept.swap(pool.kept);
    pool.keptBytes = 0;
  }
  for (const detail::Kept& k : kept) Unmap(k.data, k.capacity);
}
#else
void ReleaseAll(detail::PoolState&) {}
#endif

}  // namespace

PoolRef::PoolRef(MemoryPool* pool) : state_(pool ? pool->state_ : nullptr) {}

MemoryPool::MemoryPool(std::size_t keepAtMost)
    : state_(std::make_shared<detail::PoolState>(keepAtMost)) {}

MemoryPool::~MemoryPool() {
  {
    std::lock_guard lock(state_->mutex);
    state_->open = false;
  }
  ReleaseAll(*state_);
}

std::size_t MemoryPool::Kept() const {
  std::lock_guard lock(state_->mutex);
  return state_->keptBytes;
}

void MemoryPool::Release() { ReleaseAll(*state_); }

#ifdef SKYFOLD_MAPPED_BLOCKS

void PixelMemoryDeleter::operator()(std::uint8_t* p) const noexcept {
  if (p == nullptr) return;
  if (capacity == 0) {
    delete[] p;
    return;
  }
  if (pool) {
    std::lock_guard lock(pool->mutex);
    if (pool->open && pool->kept.size() < kKeepBlocks &&
        pool->keptBytes + capacity <= pool->keepAtMost) {
      try {
        pool->kept.push_back(detail::Kept{p, capacity});
        pool->keptBytes += capacity;
        return;
      } catch (...) {
        // No room to remember it: give it back below.
      }
    }
  }
  Unmap(p, capacity);
}

PixelMemory AllocatePixelMemory(std::size_t bytes, const PoolRef& pool) {
  if (bytes == 0) return nullptr;
  if (bytes < kLargeBlock) return PixelMemory(new std::uint8_t[bytes]);
  if (bytes > SIZE_MAX - kPage - kHugePage) throw std::bad_alloc();
  const std::size_t capacity = (bytes + kPage - 1) / kPage * kPage;
  std::shared_ptr<detail::PoolState> state = pool.state();
  if (state) {
    if (std::uint8_t* p = TakeKept(*state, capacity)) {
      return PixelMemory(p, PixelMemoryDeleter{capacity, std::move(state)});
    }
  }
  std::uint8_t* p = MapBlock(capacity);
  if (p == nullptr && state) {
    // The kept blocks may be what stands in the way.
    ReleaseAll(*state);
    p = MapBlock(capacity);
  }
  if (p == nullptr) throw std::bad_alloc();
  return PixelMemory(p, PixelMemoryDeleter{capacity, std::move(state)});
}

namespace {

// madvise(advice) on the whole huge pages of [data, data + bytes).
void AdviseWholeHugePages(void* data, std::size_t bytes, int advice) noexcept {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (at + kHugePage - 1) / kHugePage * kHugePage;
  const std::uintptr_t end = (at + bytes) / kHugePage * kHugePage;
  if (data != nullptr && begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

}  // namespace

void AdviseHugePages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  AdviseWholeHugePages(data, bytes, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

void DiscardPixels(void* data, std::size_t bytes) noexcept {
  AdviseWholeHugePages(data, bytes, MADV_DONTNEED);
}

bool MovePixelPages(std::uint8_t*& from, const std::uint8_t* fromEnd, std::uint8_t*& to,
                    const std::uint8_t* toEnd) noexcept {
#ifdef MREMAP_DONTUNMAP
  auto up = [](const std::uint8_t* p) {
    return (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) / kHugePage * kHugePage;
  };
  auto down = [](const std::uint8_t* p) {
    return reinterpret_cast<std::uintptr_t>(p) / kHugePage * kHugePage;
  };
  const std::uintptr_t source = up(from), target = up(to);
  const std::uintptr_t sourceEnd = down(fromEnd), targetEnd = down(toEnd);
  if (source >= sourceEnd || target >= targetEnd) return true;
  const std::size_t bytes = std::min(sourceEnd - source, targetEnd - target);
  // The source stays mapped, empty; the target's mapping is replaced.
  if (mremap(reinterpret_cast<void*>(source), bytes, bytes,
             MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP,
             reinterpret_cast<void*>(target)) == MAP_FAILED) {
    return false;
  }
  from = reinterpret_cast<std::uint8_t*>(source + bytes);
  to = reinterpret_cast<std::uint8_t*>(target + bytes);
  return true;
#else
  (void)from;
  (void)fromEnd;
  (void)to;
  (void)toEnd;
  return false;
#endif
}

#else

void PixelMemoryDeleter::operator()(std::uint8_t* p) const noexcept { delete[] p; }

void AdviseHugePages(void*, std::size_t) noexcept {}
void DiscardPixels(void*, std::size_t) noexcept {}
bool MovePixelPages(std::uint8_t*&, const std::uint8_t*, std::uint8_t*&,
                    const std::uint8_t*) noexcept {
  return false;
}

PixelMemory AllocatePixelMemory(std::size_t bytes, const PoolRef&) {
  if (bytes == 0) return nullptr;
  return PixelMemory(new std::uint8_t[bytes]);
}

#endif

}  // namespace skyfold
