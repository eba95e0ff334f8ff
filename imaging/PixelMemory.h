// PixelMemory: the storage of bitmaps and mapping tables.
//
// Fresh memory is costly: the kernel maps and zeroes every page on first
// touch, and on virtual machines that hand free memory back to the host that
// costs several times more again. Large blocks (8 MB and up) are therefore
// mapped directly, on huge-page boundaries and asking for huge pages (a
// fault per 2 MB instead of per 4 KB), and, when a run frees one, kept by
// that run's MemoryPool for its next large request the block can hold,
// whose pages are then already in place. A conversion frees its mapping
// table and work strip just before it cuts the faces, and decodes faces one
// after another: those reuse the freed blocks. Small blocks, and blocks of
// no pool, come from the system and go straight back to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace skyfold {

namespace detail {
struct PoolState;
}

struct PixelMemoryDeleter {
  std::size_t capacity = 0;                 // 0: from the heap
  std::shared_ptr<detail::PoolState> pool;  // where a freed large block goes back to
  void operator()(std::uint8_t* p) const noexcept;
};

using PixelMemory = std::unique_ptr<std::uint8_t[], PixelMemoryDeleter>;

class MemoryPool;

// A reference to a pool that stays safe after the pool has ended (it then
// keeps nothing): what bitmaps hold to allocate from the same pool later.
class PoolRef {
 public:
  PoolRef() = default;
  PoolRef(MemoryPool* pool);  // NOLINT: a pool pointer is a reference to it
  explicit PoolRef(std::shared_ptr<detail::PoolState> state) : state_(std::move(state)) {}
  const std::shared_ptr<detail::PoolState>& state() const { return state_; }

 private:
  std::shared_ptr<detail::PoolState> state_;
};

// The large blocks one run has freed, kept for its later requests. When the
// pool ends (the run is over) the kept blocks go back to the system, and so
// does every block of the pool that is freed after that. Thread-safe.
class MemoryPool {
 public:
  explicit MemoryPool(std::size_t keepAtMost = std::size_t{512} << 20);
  ~MemoryPool();
  MemoryPool(const MemoryPool&) = delete;
  MemoryPool& operator=(const MemoryPool&) = delete;

  // Bytes currently kept for reuse.
  std::size_t Kept() const;
  // Gives the kept blocks back to the system now.
  void Release();

 private:
  friend class PoolRef;
  std::shared_ptr<detail::PoolState> state_;
};

// `bytes` of memory, contents undefined; null for 0 bytes. A large block
// comes from the pool's kept blocks when one holds it, and goes back to the
// pool when freed; with no pool it is the system's. Thread-safe. Throws
// std::bad_alloc when no memory can be had.
PixelMemory AllocatePixelMemory(std::size_t bytes, const PoolRef& pool = {});

// Asks for huge pages under the whole 2 MB pages of a large buffer that is
// about to be filled (an encoder's output, say), so its first touch costs a
// fault per 2 MB rather than per 4 KB. Advice only: contents are untouched
// and nothing changes where the system does not take it.
void AdviseHugePages(void* data, std::size_t bytes) noexcept;

// Gives the system back the whole 2 MB pages under a buffer whose contents
// are done with (a panorama's rows every face has read), so that memory
// the run touches later reuses them instead of fresh pages, which on a
// virtual machine cost some 2 ms a megabyte. What is given back reads as
// zeros.
void DiscardPixels(void* data, std::size_t bytes) noexcept;

// Moves the pages under whole 2 MB pages of [from, fromEnd), rows done with,
// to whole 2 MB pages of [to, toEnd), rows no thread touches until this
// returns (a decoder's rows still to come), so those rows are written with
// no fresh pages at all. Each cursor is first rounded up to a whole page and
// then advanced past what moved; what was moved from reads as zeros, as
// after DiscardPixels. False when the system cannot move pages (nothing
// moved): the caller gives its rows back instead.
bool MovePixelPages(std::uint8_t*& from, const std::uint8_t* fromEnd, std::uint8_t*& to,
                    const std::uint8_t* toEnd) noexcept;

}  // namespace skyfold
