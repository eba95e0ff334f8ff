// The conversion engine: a job commits all its files or none. Cancelled at
// any stage, refused or failed, it leaves the folder as it was; done, it
// lists what it placed and reports its progress as events that reach the
// whole run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "filers/ConversionEngine.h"
#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "support/PanoramaTestImages.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

const char* const kSuffixes[] = {"_left", "_front", "_right", "_back", "_top", "_bottom"};

// Every file in folder with its bytes, sorted by name.
std::vector<std::pair<std::string, std::vector<char>>> Snapshot(const std::string& folder) {
  std::vector<std::pair<std::string, std::vector<char>>> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files.emplace_back(entry.path().filename().string(), test::ReadBytes(entry.path().string()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    SaveBitmapAsBmp(dir.file("pano.bmp"), test::DrawTexturedPanorama(512));
    fs::create_directories(dir.file("faces"));
  }

  void DescribeForward(TCubeFiler& filer, TExtractImageType type) {
    filer.SetImageFileName(dir.file("pano.bmp"));
    filer.SetSceneFilename(dir.file("faces") + "/");
    filer.SetTextureBasename("pano");
    filer.SetExtractImageType(type);
    filer.SetImageSize(is128);
  }
  void DescribeInverse(TPanoFiler& filer) {
    filer.SetCubeImageFileName(dir.file("faces/pano_front.bmp"));
    filer.SetImageFileName(dir.file("faces/out.jpg"));
    filer.SetExtractImageType(eiJpeg);
    filer.SetPanoImageSize(ps512);
  }

  test::TempDir dir;
  const ScopedErrorMessageSink quiet{[](const std::string&) {}};
};

TEST_F(Engine, AForwardJobListsItsSixFacesInFaceOrderAndReportsTheWholeRun) {
  TCubeFiler filer;
  DescribeForward(filer, eiJpeg);
  RunContext run(2);
  std::vector<ProgressEvent> events;
  run.progress = [&](const ProgressEvent& e) { events.push_back(e); };
  const JobResult result = RunForwardJob(filer, run);
  ASSERT_EQ(result.status, JobResult::Status::Done) << result.message;
  std::vector<std::string> expected;
  for (const char* s : kSuffixes)
    expected.push_back(dir.file(std::string("faces/pano") + s + ".jpg"));
  EXPECT_EQ(result.written, expected);
  ASSERT_FALSE(events.empty());
  for (std::size_t i = 1; i < events.size(); ++i) {
    ASSERT_GE(events[i].done, events[i - 1].done);
    ASSERT_GE(static_cast<int>(events[i].stage), static_cast<int>(events[i - 1].stage));
    ASSERT_LE(events[i].done, events[i].total);
  }
  EXPECT_EQ(events.back().stage, RunStage::Committing);
  EXPECT_EQ(events.back().done, events.back().total) << "the fraction ends at one";
}

// A type named in the job's output options (the window's choice beyond its
// tabs) replaces the filer's type in both directions; the panorama's name
// takes that type's extension.
TEST_F(Engine, AnOutputTypeByNameReplacesTheFilersType) {
  TCubeFiler cube;
  DescribeForward(cube, eiJpeg);
  cube.Options.output.type = "png";
  RunContext run(2);
  const JobResult faces = RunForwardJob(cube, run);
  ASSERT_EQ(faces.status, JobResult::Status::Done) << faces.message;
  ASSERT_EQ(faces.written.size(), 6u);
  EXPECT_EQ(faces.written[1], dir.file("faces/pano_front.png"));

  TPanoFiler pano;
  DescribeInverse(pano);
  pano.SetCubeImageFileName(dir.file("faces/pano_front.png"));
  pano.Options.output.type = "exr";
  const JobResult back = RunInverseJob(pano, run);
  ASSERT_EQ(back.status, JobResult::Status::Done) << back.message;
  EXPECT_EQ(back.written, std::vector<std::string>{dir.file("faces/out.exr")});
  EXPECT_FALSE(fs::exists(dir.file("faces/out.jpg")));
}

// Cancelled in each stage of either direction, with old files in the way
// and replacement allowed: every old file stays as it was, nothing is added.
// The resampled forward job encodes its JPEG faces band by band while the
// source decodes.
TEST_F(Engine, ACancelledJobLeavesTheFolderAsItWasAtEveryStage) {
  SaveBitmapAsJpeg(dir.file("pano.jpg"), test::DrawTexturedPanorama(1024), 95);
  {
    TCubeFiler filer;
    DescribeForward(filer, eiBitmap);
    RunContext run(2);
    ASSERT_EQ(RunForwardJob(filer, run).status, JobResult::Status::Done);
  }
  std::ofstream(dir.file("faces/out.jpg")) << "old panorama";
  const auto before = Snapshot(dir.file("faces"));
  for (RunStage stage :
       {RunStage::Loading, RunStage::Warping, RunStage::Writing, RunStage::Committing}) {
    for (int job : {0, 1, 2}) {
      const bool forward = job != 1;
      for (int threads : {1, 2}) {
        RunContext run(threads);
        run.progress = [&](const ProgressEvent& e) {
          if (e.stage == stage) run.cancel().Cancel();
        };
        JobResult result;
        if (forward) {
          TCubeFiler filer;
          DescribeForward(filer, job == 0 ? eiBitmap : eiJpeg);
          if (job == 2) {
            filer.SetImageFileName(dir.file("pano.jpg"));
            filer.Options.resample.filter = ResampleFilter::Bilinear;
            filer.Options.resample.faceEdge = 600;
          }
          result = RunForwardJob(filer, run);
        } else {
          TPanoFiler filer;
          DescribeInverse(filer);
          result = RunInverseJob(filer, run);
        }
        EXPECT_EQ(result.status, JobResult::Status::Cancelled)
            << static_cast<int>(stage) << job << threads;
        EXPECT_EQ(result.message, "キャンセルしました。");
        EXPECT_TRUE(result.written.empty());
        ASSERT_EQ(Snapshot(dir.file("faces")), before) << static_cast<int>(stage) << job;
      }
    }
  }
}

// With two threads or more a JPEG panorama is still being decoded while the
// warp follows it, in place, and the faces are made from its rows as they
// settle: the faces and the lines are those of the steps done one after
// another, and the faces also for a file cut short (whose line comes once
// the decoder is over). JPEG faces cut one to one are encoded during the
// warp; the others are stretched, or turned, after it.
TEST_F(Engine, AJpegWarpedOverlappedWithItsDecodeGivesTheFacesAndLinesOfTheSteps) {
  SaveBitmapAsJpeg(dir.file("pano.jpg"), test::DrawTexturedPanorama(2048));
  std::vector<char> whole = test::ReadBytes(dir.file("pano.jpg"));
  whole.resize(whole.size() * 3 / 5);
  std::ofstream(dir.file("cut.jpg"), std::ios::binary)
      .write(whole.data(), static_cast<std::streamsize>(whole.size()));
  for (const auto& [source, type] :
       {std::pair{"pano.jpg", eiBitmap}, std::pair{"cut.jpg", eiBitmap},
        std::pair{"pano.jpg", eiJpeg}, std::pair{"cut.jpg", eiJpeg}}) {
    const std::string ext = type == eiJpeg ? ".jpg" : ".bmp";
    std::vector<std::vector<char>> reference;
    std::vector<std::string> referenceLines;
    for (int threads : {1, 2, 3}) {
      TCubeFiler filer;
      DescribeForward(filer, type);
      filer.SetImageFileName(dir.file(source));
      if (type == eiJpeg) {
        filer.SetImageSize(is512);
        // A turned top face is saved after the warp, the bottom one during it.
        filer.SetTopRotate(source == std::string("cut.jpg"));
      }
      std::vector<std::string> lines;
      filer.OnProgress = [&](TSimFiler*, const std::string& text, TSimProgressMode mode) {
        lines.push_back(std::to_string(mode) + text);
      };
      RunContext run(threads);
      ASSERT_EQ(RunForwardJob(filer, run).status, JobResult::Status::Done) << source;
      std::vector<std::vector<char>> faces;
      for (const char* s : kSuffixes) {
        faces.push_back(test::ReadBytes(dir.file(std::string("faces/pano") + s + ext)));
      }
      if (threads == 1) {
        reference = faces;
        referenceLines = lines;
        continue;
      }
      EXPECT_EQ(faces, reference) << source << ext << ", " << threads << " threads";
      if (source == std::string("pano.jpg")) {
        EXPECT_EQ(lines, referenceLines) << threads << " threads";
      }
    }
  }
}

// A panorama this large lets the decoder run far enough ahead that the rows
// every face is done with lend their pages to the rows still to come; the
// faces must still be those of the same pixels read whole.
TEST_F(Engine, ALargeJpegMadeIntoFacesWhileItIsReadGivesTheFacesOfItsPixelsReadWhole) {
  SaveBitmapAsJpeg(dir.file("big.jpg"), test::DrawTexturedPanorama(8192), 90);
  Bitmap pixels;
  ReadJpegFile(dir.file("big.jpg"), pixels);
  SaveBitmapAsBmp(dir.file("big.bmp"), pixels);
  std::vector<std::vector<char>> faces[2];
  for (int i = 0; i < 2; ++i) {
    TCubeFiler filer;
    DescribeForward(filer, eiJpeg);
    filer.SetImageFileName(dir.file(i == 0 ? "big.bmp" : "big.jpg"));
    filer.SetImageSize(is2048);
    RunContext run(2);
    ASSERT_EQ(RunForwardJob(filer, run).status, JobResult::Status::Done);
    for (const char* s : kSuffixes) {
      faces[i].push_back(test::ReadBytes(dir.file(std::string("faces/pano") + s + ".jpg")));
    }
  }
  EXPECT_TRUE(faces[0] == faces[1]);
}

TEST_F(Engine, WithoutReplacementAFaceThatAppearsDuringTheJobFailsItAndNothingIsPlaced) {
  TCubeFiler filer;
  DescribeForward(filer, eiBitmap);
  RunContext run(2);
  run.progress = [&](const ProgressEvent& e) {
    // Another program writes the top face while the job cuts the faces.
    if (e.stage == RunStage::Writing && !FileExists(dir.file("faces/pano_top.bmp"))) {
      std::ofstream(dir.file("faces/pano_top.bmp")) << "theirs";
    }
  };
  JobQuestions questions;
  questions.replaceExisting = false;
  const JobResult result = RunForwardJob(filer, run, questions);
  EXPECT_EQ(result.status, JobResult::Status::Failed);
  EXPECT_NE(result.message.find("pano_top.bmp"), std::string::npos) << result.message;
  const auto after = Snapshot(dir.file("faces"));
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].first, "pano_top.bmp");
}

TEST_F(Engine, ARefusedQuestionStopsTheJobBeforeAnythingIsRead) {
  TPanoFiler filer;
  DescribeInverse(filer);
  RunContext run(1);
  JobQuestions questions;
  questions.mayWrite = [] { return false; };
  EXPECT_EQ(RunInverseJob(filer, run, questions).status, JobResult::Status::Refused);
  EXPECT_TRUE(Snapshot(dir.file("faces")).empty());
}

}  // namespace
}  // namespace skyfold
