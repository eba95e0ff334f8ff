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

#ifdef SKYFOLD_MAPPED_BLOCKS
namespace {

constexpr std::size_t kLargeBlock = std::size_t{8} << 20;
constexpr std::size_t kPage = std::size_t{4} << 10;
// What is kept at most: a 16384-wide run frees a 268 MB table and a 100 MB
// strip before its faces need memory.
constexpr std::size_t kKeepAtMost = std::size_t{512} << 20;
constexpr std::size_t kKeepBlocks = 8;

struct Kept {
  std::uint8_t* data;
  std::size_t capacity;
};

std::mutex g_mutex;
std::vector<Kept> g_kept;
std::size_t g_keptBytes = 0;

void Unmap(std::uint8_t* p, std::size_t capacity) noexcept { munmap(p, capacity); }

// The front of the smallest kept block that holds `capacity` (a whole
// number of pages), taken out of the cache. What lies beyond stays kept as
// a block of its own when it is large itself: a mapping can be split at any
// page, and each piece is given back on its own.
std::uint8_t* TakeKept(std::size_t capacity) {
  std::lock_guard lock(g_mutex);
  auto best = g_kept.end();
  for (auto it = g_kept.begin(); it != g_kept.end(); ++it) {
    if (it->capacity >= capacity && (best == g_kept.end() || it->capacity < best->capacity)) {
      best = it;
    }
  }
  if (best == g_kept.end()) return nullptr;
  std::uint8_t* p = best->data;
  const std::size_t rest = best->capacity - capacity;
  if (rest >= kLargeBlock) {
    best->data += capacity;
    best->capacity = rest;
    g_keptBytes -= capacity;
    return p;
  }
  if (rest != 0) Unmap(p + capacity, rest);
  g_keptBytes -= best->capacity;
  g_kept.erase(best);
  return p;
}

}  // namespace

void PixelMemoryDeleter::operator()(std::uint8_t* p) const noexcept {
  if (p == nullptr) return;
  if (capacity == 0) {
    delete[] p;
    return;
  }
  {
    std::lock_guard lock(g_mutex);
    if (g_kept.size() < kKeepBlocks && g_keptBytes + capacity <= kKeepAtMost) {
      try {
        g_kept.push_back(Kept{p, capacity});
        g_keptBytes += capacity;
        return;
      } catch (...) {
        // No room to remember it: give it back below.
      }
    }
  }
  Unmap(p, capacity);
}

PixelMemory AllocatePixelMemory(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  if (bytes < kLargeBlock) return PixelMemory(new std::uint8_t[bytes]);
  if (bytes > SIZE_MAX - kPage) throw std::bad_alloc();
  const std::size_t capacity = (bytes + kPage - 1) / kPage * kPage;
  if (std::uint8_t* p = TakeKept(capacity)) return PixelMemory(p, PixelMemoryDeleter{capacity});
  void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    // The kept blocks may be what stands in the way.
    ReleaseKeptPixelMemory();
    p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
  }
  return PixelMemory(static_cast<std::uint8_t*>(p), PixelMemoryDeleter{capacity});
}

void ReleaseKeptPixelMemory() {
  std::vector<Kept> kept;
  {
    std::lock_guard lock(g_mutex);
    kept.swap(g_kept);
    g_keptBytes = 0;
  }
  for (const Kept& k : kept) Unmap(k.data, k.capacity);
}

std::size_t KeptPixelMemory() {
  std::lock_guard lock(g_mutex);
  return g_keptBytes;
}

#else

void PixelMemoryDeleter::operator()(std::uint8_t* p) const noexcept { delete[] p; }

PixelMemory AllocatePixelMemory(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  return PixelMemory(new std::uint8_t[bytes]);
}

void ReleaseKeptPixelMemory() {}

std::size_t KeptPixelMemory() { return 0; }

#endif

}  // namespace skyfold
