// The forward table built beside the JPEG decoder: the warp that takes it
// must give the same pixels and the same progress lines, in the same order,
// as the warp that builds its own, and a table that does not fit the
// panorama must never be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filers/SimFilers.h"
#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "support/PanoramaTestImages.h"
#include "support/ProgressLog.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

struct WarpRun {
  Bitmap warped;
  std::vector<std::string> progress;  // mode digit + text
};

class PreparedTable : public ::testing::Test {
 protected:
  // Loads fileName and warps it on `threads` threads; `before` may prepare
  // a table first.
  template <typename Before>
  WarpRun LoadAndWarp(const std::string& fileName, int threads, Before before) {
    WarpRun run;
    TSimFiler filer;
    const test::ScopedRun scope(filer, threads);
    test::RecordProgress(filer, run.progress);
    filer.SetImageFileName(fileName);
    before(filer);
    EXPECT_TRUE(filer.LoadSourceImage(run.warped));
    filer.WarpImage(run.warped);
    return run;
  }
  WarpRun LoadAndWarp(const std::string& fileName, int threads) {
    return LoadAndWarp(fileName, threads, [](TSimFiler&) {});
  }

  static void ExpectSame(const WarpRun& a, const WarpRun& b) {
    ASSERT_EQ(a.warped.width(), b.warped.width());
    ASSERT_EQ(a.warped.height(), b.warped.height());
    EXPECT_TRUE(
        std::equal(a.warped.data(), a.warped.data() + a.warped.byteSize(), b.warped.data()));
    EXPECT_EQ(a.progress, b.progress);
  }

  test::TempDir dir;
};

TEST_F(PreparedTable, AJpegSourceWarpsAlikeWhetherTheTableWasBuiltAheadOrNot) {
  const std::string jpeg = dir.file("pano.jpg");
  SaveBitmapAsJpeg(jpeg, test::DrawTexturedPanorama(512));
  const WarpRun alone = LoadAndWarp(jpeg, 1);
  const WarpRun ahead = LoadAndWarp(jpeg, 2);
  ExpectSame(ahead, alone);
  EXPECT_EQ(std::count(ahead.progress.begin(), ahead.progress.end(),
                       std::to_string(static_cast<int>(spAppend)) + "座標を取得しています。"),
            1);
}

TEST_F(PreparedTable, ATableForAnotherWidthIsDroppedAndTheRightOneBuilt) {
  const std::string bmp = dir.file("pano.bmp");
  SaveBitmapAsBmp(bmp, test::DrawTexturedPanorama(256));
  const WarpRun plain = LoadAndWarp(bmp, 2);
  for (int wrongQuarter : {16, 64, 0}) {
    const WarpRun other =
        LoadAndWarp(bmp, 2, [&](TSimFiler& filer) { filer.PrepareMappingTable(wrongQuarter); });
    ExpectSame(other, plain);
  }
}

TEST_F(PreparedTable, ARunEndingWithATableStillBeingBuiltWaitsForIt) {
  for (int i = 0; i < 3; ++i) {
    TSimFiler filer;
    const test::ScopedRun scope(filer, 2);
    filer.PrepareMappingTable(512);
  }
  TSimFiler filer;
  filer.PrepareMappingTable(512);
  filer.DropPreparedTable();
  filer.DropPreparedTable();
}

}  // namespace
}  // namespace skyfold
