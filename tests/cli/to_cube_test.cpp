// skyfold-cli to-cube, run as the real program: files written and listed,
// progress lines, the overwrite rule, refusals, usage errors and failures
// with their exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/BmpIO.h"
#include "imaging/PathUtils.h"
#include "support/CliRunner.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::CliResult;
using test::ReadText;
using test::RunCli;
using test::TempDir;

const std::vector<std::string> kWordSuffixes{"_left", "_front", "_right",
                                             "_back", "_top",   "_bottom"};

class ToCube : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(work_.file("in"));
    std::filesystem::create_directory(work_.file("out"));
    pano_ = work_.file("in/pano.bmp");
    SaveBitmapAsBmp(pano_, test::DrawTexturedPanorama(128));
  }
  std::string Out(const std::string& name) const { return work_.file("out/" + name); }
  std::vector<std::string> FacePaths(const std::string& folder, const std::string& base,
                                     const std::string& ext) const {
    std::vector<std::string> paths;
    for (const auto& s : kWordSuffixes) paths.push_back(folder + "/" + base + s + ext);
    return paths;
  }
  static std::string Lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
  }
  TempDir scratch_;  // the captured output streams
  TempDir work_;
  std::string pano_;
};

TEST_F(ToCube, WritesSixFacesListsThemAndPrintsTheWindowsProgressLines) {
  const CliResult r =
      RunCli(scratch_, {"to-cube", "-o", work_.file("out"), "-s", "64", "-t", "bmp", pano_});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> faces = FacePaths(work_.file("out"), "pano", ".bmp");
  EXPECT_EQ(r.out, Lines(faces));
  for (const auto& f : faces) {
    Bitmap b;
    ReadBmpFile(f, b);
    EXPECT_EQ(b.width(), 64);
    EXPECT_EQ(b.height(), 64);
  }
  // 64 rows per strip: a dot every row (step 1).
  const std::string strip = "." + std::string(64, '.');
  EXPECT_EQ(
      r.err,
      Lines({"読み込んでいます。　" + pano_, "正距円筒画像を立方体表面の画像へ変形します。",
             "座標を取得しています。................", "処理中 ", strip, strip, strip, strip,
             "画像ファイルを書き出しています。", "pano_left.bmp", "pano_front.bmp",
             "pano_right.bmp", "pano_back.bmp....", "pano_top.bmp....", "pano_bottom.bmp...."}));
}

TEST_F(ToCube, DefaultsToThePanoramasFolderAndNameAndHonoursTheNamingOptions) {
  CliResult r = RunCli(scratch_, {"to-cube", "-q", "-s", "64", pano_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // quiet
  EXPECT_EQ(r.out, Lines(FacePaths(work_.file("in"), "pano", ".jpg")));

  // A bare file name: faces go next to it, listed with their full paths.
  r = RunCli(scratch_,
             {"to-cube", "-q", "-s", "64", "-t", "TIF", "--digit-suffix", "--swap-left-right", "-n",
              "cube", "pano.bmp"},
             work_.file("in"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string in = work_.file("in") + "/";
  EXPECT_EQ(r.out, Lines({in + "cube_1.tif", in + "cube_0.tif", in + "cube_3.tif",
                          in + "cube_2.tif", in + "cube_4.tif", in + "cube_5.tif"}));
  for (const char* n : {"cube_0.tif", "cube_1.tif", "cube_5.tif"}) {
    EXPECT_TRUE(FileExists(work_.file(std::string("in/") + n))) << n;
  }
}

TEST_F(ToCube, SwapAndRotateChangeWhereTheViewsAreWritten) {
  ASSERT_EQ(
      RunCli(scratch_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "-o", work_.file("out"), pano_})
          .status,
      0);
  ASSERT_EQ(RunCli(scratch_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "-n", "turned",
                              "--rotate-top", "--swap-left-right", "-o", work_.file("out"), pano_})
                .status,
            0);
  Bitmap left, swappedRight, top, turnedTop;
  ReadBmpFile(Out("pano_left.bmp"), left);
  ReadBmpFile(Out("turned_right.bmp"), swappedRight);
  ReadBmpFile(Out("pano_top.bmp"), top);
  ReadBmpFile(Out("turned_top.bmp"), turnedTop);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      ASSERT_EQ(swappedRight.pixel(x, y), left.pixel(x, y));
      ASSERT_EQ(turnedTop.pixel(x, y), top.pixel(63 - x, 63 - y));
    }
  }
}

TEST_F(ToCube, ExistingOutputStopsTheJobBeforeAnythingIsWrittenUnlessForced) {
  const std::string existing = Out("pano_top.bmp");
  std::ofstream(existing) << "keep me";
  const std::vector<std::string> args{"to-cube",         "-s", "64", "-t", "bmp", "-o",
                                      work_.file("out"), pano_};
  CliResult r = RunCli(scratch_, args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(existing), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadText(existing), "keep me");
  EXPECT_FALSE(FileExists(Out("pano_left.bmp")));

  std::vector<std::string> forced = args;
  forced.insert(forced.begin() + 1, "--force");
  r = RunCli(scratch_, forced);
  EXPECT_EQ(r.status, 0) << r.err;
  Bitmap top;
  ReadBmpFile(existing, top);
  EXPECT_EQ(top.width(), 64);
}

TEST_F(ToCube, RefusedJobsExitWithOneAndWriteNothing) {
  // Missing source, missing output folder: the filer's own messages.
  CliResult r = RunCli(scratch_, {"to-cube", work_.file("in/none.jpg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "画像ファイル名で指定されたファイルがありません。\n");
  r = RunCli(scratch_, {"to-cube", "-o", work_.file("nowhere"), pano_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "出力先フォルダがありません。\n");

  // An extension the loader does not take: its message, then nothing.
  const std::string gif = work_.file("in/pano.gif");
  std::filesystem::copy_file(pano_, gif);
  r = RunCli(scratch_, {"to-cube", "-q", "-o", work_.file("out"), gif});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "扱えない画像ファイルです。\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::filesystem::is_empty(work_.file("out")));
}

TEST_F(ToCube, UsageErrorsExitWithTwo) {
  CliResult r = RunCli(scratch_, {"to-cube", "-s", "7", pano_});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("2048"), std::string::npos) << r.err;  // the allowed edges
  r = RunCli(scratch_, {"to-cube", "-t", "gif", pano_});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("tif"), std::string::npos) << r.err;
  EXPECT_EQ(RunCli(scratch_, {"to-cube", "--bogus", pano_}).status, 2);
  EXPECT_EQ(RunCli(scratch_, {"to-cube", "-n", "x", pano_, pano_}).status, 2);
  EXPECT_EQ(RunCli(scratch_, {"to-cube"}).status, 2);
  EXPECT_EQ(RunCli(scratch_, {}).status, 2);
  EXPECT_EQ(RunCli(scratch_, {"--threads", "0", "to-cube", pano_}).status, 2);
  EXPECT_TRUE(std::filesystem::is_empty(work_.file("out")));

  r = RunCli(scratch_, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("to-cube"), std::string::npos);
  r = RunCli(scratch_, {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("skyfold-cli"), std::string::npos);
}

TEST_F(ToCube, SeveralPanoramasRunOnAndAFailureOutranksARefusal) {
  const std::string second = work_.file("in/second.bmp");
  std::filesystem::copy_file(pano_, second);
  const std::string broken = work_.file("in/broken.bmp");
  std::ofstream(broken) << "BM this is not a bitmap";

  // A refusal does not stop the next job.
  CliResult r = RunCli(scratch_, {"to-cube", "-q", "-s", "64", "-o", work_.file("out"),
                                  work_.file("in/none.bmp"), second});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, Lines(FacePaths(work_.file("out"), "second", ".jpg")));

  // A decoder failure: its message, status 3, later jobs still run.
  r = RunCli(scratch_, {"to-cube", "-q", "-s", "64", "-o", work_.file("out"), "-f",
                        work_.file("in/none.bmp"), broken, pano_});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err.find("画像ファイル名で指定されたファイルがありません。\n"), 0u) << r.err;
  EXPECT_GT(r.err.size(), std::string("画像ファイル名で指定されたファイルがありません。\n").size());
  EXPECT_EQ(r.out, Lines(FacePaths(work_.file("out"), "pano", ".jpg")));
  EXPECT_FALSE(FileExists(Out("broken_left.jpg")));
}

TEST_F(ToCube, ThreadCountDoesNotChangeABit) {
  std::filesystem::create_directory(work_.file("one"));
  const std::string big = work_.file("in/big.bmp");
  SaveBitmapAsBmp(big, test::DrawTexturedPanorama(512));
  ASSERT_EQ(RunCli(scratch_, {"--threads", "1", "to-cube", "-q", "-s", "128", "-t", "bmp", "-o",
                              work_.file("one"), big})
                .status,
            0);
  const CliResult r = RunCli(scratch_, {"to-cube", "--threads", "3", "-s", "128", "-t", "bmp", "-o",
                                        work_.file("out"), big});
  ASSERT_EQ(r.status, 0);
  for (const auto& s : kWordSuffixes) {
    EXPECT_EQ(test::ReadBytes(work_.file("one/big" + s + ".bmp")),
              test::ReadBytes(Out("big" + s + ".bmp")))
        << s;
  }
}

}  // namespace
}  // namespace skyfold
