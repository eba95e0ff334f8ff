// PixelMemory: the storage of bitmaps and mapping tables.
//
// Fresh memory is costly: the kernel maps and zeroes every page on first
// touch, and on virtual machines that hand free memory back to the host that
// costs several times more again. Large blocks (8 MB and up) are therefore
// mapped directly and, when freed, kept for the next large request they can
// hold, whose pages are then already in place. A conversion frees its
// mapping table and work strip just before it cuts the faces, and decodes
// faces one after another: those reuse the freed blocks. Small blocks come
// from the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace skyfold {

struct PixelMemoryDeleter {
  std::size_t capacity = 0;  // 0: from the heap
  void operator()(std::uint8_t* p) const noexcept;
};

using PixelMemory = std::unique_ptr<std::uint8_t[], PixelMemoryDeleter>;

// `bytes` of memory, contents undefined; null for 0 bytes. Thread-safe.
// Throws std::bad_alloc when no memory can be had.
PixelMemory AllocatePixelMemory(std::size_t bytes);

// Gives the kept blocks back to the system (a window calls this when a
// conversion ends, so an idle program holds no more than it uses).
void ReleaseKeptPixelMemory();

// Bytes currently kept for reuse.
std::size_t KeptPixelMemory();

}  // namespace skyfold
