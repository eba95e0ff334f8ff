// Large pixel blocks of a run's pool are kept when freed and handed out
// again, whole or in pieces, so their pages need not be mapped afresh; small
// ones and blocks of no pool are ordinary blocks. Every block must stay
// usable over its whole length, also after its pool has ended.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/PixelMemory.h"

namespace skyfold {
namespace {

constexpr std::size_t kMB = std::size_t{1} << 20;

class PixelMemoryTest : public ::testing::Test {
 protected:
  MemoryPool pool;
  PixelMemory AllocatePixelMemory(std::size_t bytes) {
    return skyfold::AllocatePixelMemory(bytes, &pool);
  }
  std::size_t KeptPixelMemory() const { return pool.Kept(); }
};

TEST_F(PixelMemoryTest, AFreedLargeBlockIsKeptAndHandedOutAgainInPieces) {
  std::uint8_t* first = nullptr;
  {
    PixelMemory big = AllocatePixelMemory(40 * kMB);
    first = big.get();
    // On a huge-page boundary, so that its first touch can map 2 MB at once.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % (2 * kMB), 0u);
    std::memset(big.get(), 7, 40 * kMB);
  }
  EXPECT_EQ(KeptPixelMemory(), 40 * kMB);

  // A smaller request takes the front; the rest stays kept while it is large.
  PixelMemory a = AllocatePixelMemory(10 * kMB + 1);
  EXPECT_EQ(a.get(), first);
  EXPECT_EQ(KeptPixelMemory(), 40 * kMB - (10 * kMB + 4096));
  PixelMemory b = AllocatePixelMemory(20 * kMB);
  EXPECT_EQ(b.get(), first + 10 * kMB + 4096);
  // The last 10 MB serve the next request; what that leaves is too small to
  // keep and goes back to the system.
  PixelMemory c = AllocatePixelMemory(9 * kMB);
  EXPECT_EQ(c.get(), first + 30 * kMB + 4096);
  EXPECT_EQ(KeptPixelMemory(), 0u);
  for (PixelMemory* m : {&a, &b}) (*m)[0] = 1;
  std::memset(c.get(), 3, 9 * kMB);
  a[10 * kMB] = 2;  // the last byte of a
  b[20 * kMB - 1] = 2;
}

TEST(PixelMemory, HugePageAdviceLeavesAnyBufferAsItWas) {
  std::vector<std::uint8_t> bytes(5 * kMB + 123);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  AdviseHugePages(bytes.data() + 1, bytes.size() - 1);
  AdviseHugePages(bytes.data(), 100);  // holds no whole huge page
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(bytes[i], static_cast<std::uint8_t>(i * 7)) << i;
  }
}

// Used rows' pages moved under rows still to be written: whole huge pages
// only, contents carried over, the block whole and usable afterwards.
TEST_F(PixelMemoryTest, PagesMoveWholeWithTheirContents) {
  constexpr std::size_t kSize = 24 * kMB;
  PixelMemory block = AllocatePixelMemory(kSize);
  std::uint8_t* data = block.get();
  ASSERT_EQ(reinterpret_cast<std::uintptr_t>(data) % (2 * kMB), 0u);
  auto pattern = [](std::size_t i) { return static_cast<std::uint8_t>(i * 7 + i / 4096); };
  for (std::size_t i = 0; i < 10 * kMB; ++i) data[i] = pattern(i);
  std::uint8_t* from = data + 1;
  std::uint8_t* to = data + 12 * kMB + 5;
  if (!MovePixelPages(from, data + 9 * kMB, to, data + kSize)) {
    GTEST_SKIP() << "no page moves";
  }
  // [2, 8) MB went to [14, 20) MB.
  EXPECT_EQ(from, data + 8 * kMB);
  EXPECT_EQ(to, data + 20 * kMB);
  for (std::size_t i = 0; i < 10 * kMB; ++i) {
    const bool moved = i >= 2 * kMB && i < 8 * kMB;
    ASSERT_EQ(data[i], moved ? 0 : pattern(i)) << i;
    if (moved) {
      ASSERT_EQ(data[i + 12 * kMB], pattern(i)) << i;
    }
  }
  // Nothing whole is left to move.
  EXPECT_TRUE(MovePixelPages(from, data + 9 * kMB, to, data + kSize));
  EXPECT_EQ(from, data + 8 * kMB);
  block.reset();
  PixelMemory again = AllocatePixelMemory(kSize);
  std::memset(again.get(), 0xA5, kSize);
  EXPECT_EQ(again[kSize - 1], 0xA5);
}

TEST_F(PixelMemoryTest, SmallBlocksAndReleaseKeepNothing) {
  { PixelMemory small = AllocatePixelMemory(1000); }
  EXPECT_EQ(KeptPixelMemory(), 0u);
  EXPECT_EQ(AllocatePixelMemory(0), nullptr);
  { PixelMemory big = AllocatePixelMemory(16 * kMB); }
  EXPECT_GT(KeptPixelMemory(), 0u);
  pool.Release();
  EXPECT_EQ(KeptPixelMemory(), 0u);
  // Without a pool nothing is kept anywhere.
  { PixelMemory big = skyfold::AllocatePixelMemory(16 * kMB); }
  EXPECT_EQ(KeptPixelMemory(), 0u);
}

TEST(PixelMemory, ABlockOutlivingItsPoolIsStillUsableAndFreed) {
  PixelMemory kept;
  {
    MemoryPool pool;
    kept = AllocatePixelMemory(16 * kMB, &pool);
  }
  std::memset(kept.get(), 1, 16 * kMB);
  kept.reset();
}

TEST_F(PixelMemoryTest, WhatIsKeptHasALimit) {
  {
    std::vector<PixelMemory> blocks;
    for (int i = 0; i < 12; ++i) blocks.push_back(AllocatePixelMemory(64 * kMB));
  }
  EXPECT_LE(KeptPixelMemory(), 512 * kMB);
}

// Bitmaps made one after another from kept memory are still white when
// asked to be, and threads may take and free blocks at once.
TEST_F(PixelMemoryTest, BitmapsFromKeptMemoryAndManyThreads) {
  {
    Bitmap dirty(2048, 2048, PixelFormat::Bgr24, Uninitialised{}, &pool);
    std::memset(dirty.data(), 0, dirty.byteSize());
  }
  const Bitmap white(2048, 1024, PixelFormat::Bgr24, &pool);
  EXPECT_EQ(white.pixel(2047, 1023), (PaletteEntry{255, 255, 255}));
  EXPECT_EQ(white.pixel(0, 0), (PaletteEntry{255, 255, 255}));

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 20; ++i) {
        PixelMemory m = AllocatePixelMemory((9 + (t + i) % 5) * kMB);
        m[0] = static_cast<std::uint8_t>(t);
      }
    });
  }
  for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace skyfold
