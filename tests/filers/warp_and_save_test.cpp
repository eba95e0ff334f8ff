// The warp and the writing of its result as one pipeline: whatever the
// thread count and the file type, the file and the progress lines are those
// of WarpImage, the saving line and SaveImage one after the other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filers/PanoFiler.h"
#include "filers/SimFilers.h"
#include "imaging/Errors.h"
#include "imaging/PathUtils.h"
#include "support/PanoramaTestImages.h"
#include "support/ProgressLog.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

struct Result {
  std::vector<char> file;
  std::vector<std::string> progress;  // mode digit + text
};

class WarpAndSave : public ::testing::Test {
 protected:
  // One run on a fresh filer of type Filer; `pipeline` picks
  // WarpAndSaveImage over the three steps.
  template <typename Filer>
  Result Save(TExtractImageType type, int threads, bool pipeline, const std::string& name) {
    Filer filer;
    const test::ScopedRun run(filer, threads);
    Result result;
    test::RecordProgress(filer, result.progress);
    filer.SetExtractImageType(type);
    Bitmap bitmap = test::DrawTexturedPanorama(256);
    const std::string file = dir.file(name);
    if (pipeline) {
      filer.WarpAndSaveImage(bitmap, file, "saving");
    } else {
      filer.WarpImage(bitmap);
      filer.DoProgress("saving", spAppend);
      filer.SaveImage(bitmap, file, 0);
    }
    result.file = test::ReadBytes(file);
    return result;
  }

  template <typename Filer>
  void ExpectSameAsTheSteps(TExtractImageType type) {
    const Result steps = Save<Filer>(type, 1, false, "steps");
    ASSERT_FALSE(steps.file.empty());
    for (int threads : {1, 2, 3}) {
      const Result piped = Save<Filer>(type, threads, true, "piped");
      EXPECT_EQ(piped.file, steps.file) << threads << " threads";
      EXPECT_EQ(piped.progress, steps.progress) << threads << " threads";
    }
  }

  test::TempDir dir;
};

// The forward table leaves pixels without a source, which must come out
// white; the inverse one covers every pixel.
TEST_F(WarpAndSave, JpegThroughBothTablesIsTheFileOfTheSteps) {
  ExpectSameAsTheSteps<TSimFiler>(eiJpeg);
  ExpectSameAsTheSteps<TPanoFiler>(eiJpeg);
}

TEST_F(WarpAndSave, OtherTypesAreTheFileOfTheSteps) {
  ExpectSameAsTheSteps<TPanoFiler>(eiBitmap);
  ExpectSameAsTheSteps<TPanoFiler>(eiTiff);
}

TEST_F(WarpAndSave, AFileThatCannotBeWrittenFailsAfterTheSameLinesAndLeavesNothing) {
  std::vector<std::string> oneThread;
  for (int threads : {1, 2}) {
    std::vector<std::string> lines;
    TPanoFiler filer;
    const test::ScopedRun run(filer, threads);
    filer.OnProgress = [&lines](TSimFiler*, const std::string& text, TSimProgressMode) {
      lines.push_back(text);
    };
    filer.SetExtractImageType(eiJpeg);
    Bitmap bitmap = test::DrawTexturedPanorama(256);
    const std::string file = dir.file("missing-folder/pano.jpg");
    EXPECT_THROW(filer.WarpAndSaveImage(bitmap, file, "saving"), FileError) << threads;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "saving") << threads;
    if (threads == 1) oneThread = lines;
    EXPECT_EQ(lines, oneThread);
    EXPECT_FALSE(FileExists(file));
  }
}

}  // namespace
}  // namespace skyfold
