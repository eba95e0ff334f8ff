// skyfold-cli to-pano, run as the real program on face files made here: what
// it writes and lists, its progress lines, the output type, and the exit
// status of refused and failed jobs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"
#include "support/CliRunner.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

using TempFolder = test::TempDir;

using Result = test::CliResult;

// Runs skyfold-cli with the given arguments (shell syntax) inside the folder.
Result RunCli(const test::TempDir& folder, const std::string& args) {
  return test::RunCliLine(folder, args, folder.path());
}

const std::array<const char*, 6> kWordSuffixes{"_left", "_front", "_right",
                                               "_back", "_top",   "_bottom"};

// Six 32 × 32 JPEG faces, each its own colour.
void WriteFaces(const TempFolder& folder, const std::string& base) {
  for (int d = 0; d < 6; ++d) {
    Bitmap face(32, 32);
    for (int y = 0; y < 32; ++y) {
      std::uint8_t* p = face.row(y);
      for (int x = 0; x < 32 * 3; x += 3) {
        p[x] = static_cast<std::uint8_t>(40 * d);
        p[x + 1] = static_cast<std::uint8_t>(200 - 30 * d);
        p[x + 2] = 100;
      }
    }
    SaveBitmapAsJpeg(folder.file(base + kWordSuffixes[d] + ".jpg"), face);
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

class ToPano : public ::testing::Test {
 protected:
  void SetUp() override { WriteFaces(folder, "hall"); }
  TempFolder folder;
};

TEST_F(ToPano, WritesThePanoramaListsItAndReportsEachStep) {
  const Result r = RunCli(folder, "to-pano -w 256 -o pano.jpg hall_front.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, folder.file("pano.jpg") + "\n");
  Bitmap pano;
  ASSERT_TRUE(LoadImageFile(pano, folder.file("pano.jpg")));
  EXPECT_EQ(pano.width(), 256);
  EXPECT_EQ(pano.height(), 128);

  const std::vector<std::string> lines = Lines(r.err);
  ASSERT_GE(lines.size(), 11u) << r.err;
  for (int d = 0; d < 6; ++d) {
    EXPECT_EQ(lines[d], std::string("読み込んでいます。　hall") + kWordSuffixes[d] + ".jpg....");
  }
  EXPECT_EQ(lines[6], "立方体表面の画像を正距円筒画像へ変形します。");
  EXPECT_EQ(lines[7], "座標を取得しています。................");
  EXPECT_EQ(lines.back(), "出力中　pano.jpg");
}

TEST_F(ToPano, TheFaceNameIsJudgedAsTypedAndTheDigitRuleWorksToo) {
  for (int d = 0; d < 6; ++d) {
    static const char* digits[6] = {"_3", "_0", "_1", "_2", "_4", "_5"};
    fs::copy_file(folder.file(std::string("hall") + kWordSuffixes[d] + ".jpg"),
                  folder.file(std::string("cube") + digits[d] + ".jpg"));
  }
  const Result r = RunCli(folder, "to-pano -q -w 512 -o sub.bmp cube_4.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  Bitmap pano;
  ASSERT_TRUE(LoadImageFile(pano, folder.file("sub.bmp")));
  EXPECT_EQ(pano.width(), 512);
  // The front face's centre lies in the middle column of the horizon.
  EXPECT_NEAR(pano.pixel(256, 128).b, 40, 3);
  EXPECT_NEAR(pano.pixel(256, 128).g, 170, 3);
}

TEST_F(ToPano, TheTypeFollowsTheOutputsExtensionUnlessGiven) {
  const struct {
    const char* args;
    const char* file;
    const char* magic;
  } cases[] = {
      {"-o a.BMP", "a.BMP", "BM"},        {"-o a.jpeg", "a.jpeg", "\xFF\xD8"},
      {"-o a.TIFF", "a.TIFF", "II*"},     {"-o a.png", "a.png", "\x89PNG"},
      {"-o a.gif", "a.gif", "II*"},       {"-o noext", "noext", "II*"},
      {"-t bmp -o b.jpg", "b.jpg", "BM"},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(folder, std::string("to-pano -q -w 256 ") + c.args + " hall_top.jpg");
    ASSERT_EQ(r.status, 0) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err, "") << c.args;
    EXPECT_EQ(test::ReadText(folder.file(c.file)).substr(0, std::string(c.magic).size()), c.magic)
        << c.args;
  }
}

TEST_F(ToPano, AnExistingOutputIsKeptUnlessForced) {
  std::ofstream(folder.file("pano.bmp")) << "keep me";
  const Result refused = RunCli(folder, "to-pano -w 256 -o pano.bmp hall_left.jpg");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(folder.file("pano.bmp")), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(test::ReadText(folder.file("pano.bmp")), "keep me");

  const Result forced = RunCli(folder, "to-pano -f -q -w 256 -o pano.bmp hall_left.jpg");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(test::ReadText(folder.file("pano.bmp")).substr(0, 2), "BM");
}

TEST_F(ToPano, AMissingFaceRefusesTheJobNamingTheFile) {
  fs::remove(folder.file("hall_back.jpg"));
  const Result r = RunCli(folder, "to-pano -w 256 -o pano.jpg hall_front.jpg");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cube 画像ファイルがありません。\n" + folder.file("hall_back.jpg") + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(folder.file("pano.jpg")));
}

TEST_F(ToPano, ValidationFailuresRefuseWithTheFilersMessages) {
  const Result unfit = RunCli(folder, "to-pano -w 256 -o pano.jpg hall.jpg");
  EXPECT_EQ(unfit.status, 1);
  EXPECT_EQ(unfit.err, "Cube 画像ファイル名：が適切ではありません。\n");

  const Result noOutput = RunCli(folder, "to-pano -w 256 -o '' hall.jpg");
  EXPECT_EQ(noOutput.status, 1);
  EXPECT_EQ(noOutput.err, "画像ファイル名：が指定されていません。\n");

  EXPECT_FALSE(fs::exists(folder.file("pano.jpg")));
}

TEST_F(ToPano, AFaceOfAnUnacceptedKindIsRefusedAfterTheLoadersMessage) {
  for (const char* s : kWordSuffixes) {
    fs::copy_file(folder.file(std::string("hall") + s + ".jpg"),
                  folder.file(std::string("odd") + s + ".gif"));
  }
  const Result r = RunCli(folder, "to-pano -w 256 -o pano.jpg odd_left.gif");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "扱えない画像ファイルです。\n");
  EXPECT_FALSE(fs::exists(folder.file("pano.jpg")));
}

TEST_F(ToPano, UsageErrorsAndDecoderFailuresHaveTheirOwnStatus) {
  EXPECT_EQ(RunCli(folder, "to-pano -w 301 -o pano.jpg hall_left.jpg").status, 2);
  EXPECT_EQ(RunCli(folder, "to-pano hall_left.jpg").status, 2);

  std::ofstream(folder.file("hall_right.jpg"), std::ios::binary | std::ios::trunc) << "not a jpeg";
  const Result r = RunCli(folder, "to-pano -q -w 256 -o pano.jpg hall_left.jpg");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(folder.file("pano.jpg")));
}

}  // namespace
}  // namespace skyfold
