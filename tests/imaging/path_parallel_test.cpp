#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "imaging/Parallel.h"
#include "imaging/PathUtils.h"

namespace skyfold {
namespace {

TEST(PathUtils, ExtensionFollowsTheLastDotOfTheFileName) {
  EXPECT_EQ(ExtractFileExt("/photos/pano.JPG"), ".JPG");
  EXPECT_EQ(ExtractFileExt("a.b.TIFF"), ".TIFF");
  EXPECT_EQ(ExtractFileExt(".bmp"), ".bmp");
  EXPECT_EQ(ExtractFileExt("pano"), "");
  EXPECT_EQ(ExtractFileExt("/dir.tif/pano"), "");
  EXPECT_EQ(ExtractFileExt("/写真.d/パノラマ.jpg"), ".jpg");
  EXPECT_EQ(ChangeFileExt("/a.b/pano", ".tif"), "/a.b/pano.tif");
  EXPECT_EQ(ChangeFileExt("pano.png", ".jpg"), "pano.jpg");
}

TEST(PathUtils, FolderAndNameSplitAtTheLastDelimiter) {
  EXPECT_EQ(ExtractFilePath("/data/pano.jpg"), "/data/");
  EXPECT_EQ(ExtractFileName("/data/pano.jpg"), "pano.jpg");
  EXPECT_EQ(ExtractFilePath("pano.jpg"), "");
}

TEST(PathUtils, JoiningInsertsOneDelimiterOnlyWhenMissing) {
  EXPECT_EQ(JoinPath("/out/", "a_left.jpg"), "/out/a_left.jpg");
  EXPECT_EQ(JoinPath("/out", "a_left.jpg"), "/out/a_left.jpg");
  EXPECT_EQ(JoinPath("", "a.jpg"), "a.jpg");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/out"), "/out/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
  // The last character is part of a multi-byte character: not a delimiter.
  EXPECT_EQ(LastSingleByteChar("/出力"), 0);
  EXPECT_EQ(IncludeTrailingPathDelimiter("/出力"), "/出力/");
}

TEST(PathUtils, ExistenceTellsFilesFromFolders) {
  EXPECT_TRUE(DirectoryExists("/tmp"));
  EXPECT_TRUE(DirectoryExists("/tmp/"));
  EXPECT_FALSE(FileExists("/tmp"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(DirectoryExists("/no/such/folder"));
}

TEST(Parallel, BlocksCoverTheRangeOnceWhateverTheThreadCount) {
  for (int threads : {1, 2, 3, 8}) {
    SetThreadCount(threads);
    std::vector<std::atomic<int>> hits(101);
    ParallelFor(0, 101, [&](int first, int last) {
      for (int i = first; i < last; ++i) ++hits[i];
    });
    for (auto& h : hits) ASSERT_EQ(h.load(), 1);
  }
  SetThreadCount(0);
  EXPECT_GE(ThreadCount(), 1);
}

TEST(Parallel, InterleavedRunsCoverTheRangeOnceInGrainSizedPieces) {
  for (int threads : {1, 2, 3}) {
    SetThreadCount(threads);
    for (int grain : {1, 4, 7, 200}) {
      std::vector<std::atomic<int>> hits(101);
      std::atomic<int> oversized{0};
      ParallelForInterleaved(3, 101, grain, [&](int first, int last) {
        if (last - first > grain || (first - 3) % grain != 0) ++oversized;
        for (int i = first; i < last; ++i) ++hits[i];
      });
      for (int i = 0; i < 101; ++i) ASSERT_EQ(hits[i].load(), i < 3 ? 0 : 1) << i;
      EXPECT_EQ(oversized.load(), 0);
    }
  }
  ParallelForInterleaved(5, 5, 4, [](int, int) { FAIL(); });
  SetThreadCount(0);
}

TEST(Parallel, AnExceptionInAWorkerReachesTheCaller) {
  SetThreadCount(4);
  EXPECT_THROW(ParallelFor(0, 100,
                           [](int first, int) {
                             if (first > 0) throw std::runtime_error("x");
                           }),
               std::runtime_error);
  SetThreadCount(0);
}

}  // namespace
}  // namespace skyfold

namespace skyfold {
namespace {

// Calls from several threads at once, and calls from inside a block, share
// the pool without losing or repeating a block and without deadlocking.
TEST(Parallel, ASerialSectionRunsItsThreadsCallsAsOneBlockOnThatThread) {
  SetThreadCount(3);
  auto blocksOf = [] {
    std::atomic<int> blocks{0};
    std::atomic<bool> elsewhere{false};
    const auto caller = std::this_thread::get_id();
    ParallelFor(0, 300, [&](int, int) {
      ++blocks;
      if (std::this_thread::get_id() != caller) elsewhere = true;
    });
    return std::pair{blocks.load(), elsewhere.load()};
  };
  {
    SerialSection serial;
    { SerialSection nested; }
    EXPECT_EQ(blocksOf(), (std::pair{1, false}));
    int otherThreadBlocks = 0;
    std::thread other([&] { otherThreadBlocks = blocksOf().first; });
    other.join();
    EXPECT_EQ(otherThreadBlocks, 3) << "only the section's own thread is serial";
  }
  EXPECT_EQ(blocksOf().first, 3);
  SetThreadCount(0);
}

TEST(Parallel, ConcurrentAndNestedCallsEachCoverTheirRange) {
  SetThreadCount(3);
  auto run = [] {
    for (int round = 0; round < 50; ++round) {
      std::vector<std::atomic<int>> hits(64);
      ParallelFor(0, 8, [&](int first, int last) {
        for (int i = first; i < last; ++i) {
          ParallelFor(i * 8, i * 8 + 8, [&](int f, int l) {
            for (int j = f; j < l; ++j) ++hits[j];
          });
        }
      });
      for (auto& h : hits) ASSERT_EQ(h.load(), 1);
    }
  };
  std::thread other(run);
  run();
  other.join();
  SetThreadCount(0);
}

}  // namespace
}  // namespace skyfold
