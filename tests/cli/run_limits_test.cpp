// What a run refuses before it starts, and what it tells about a source it
// can only partly read: a job over --max-memory, a source that is not a
// file, a JPEG cut short after its first rows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "filers/MemoryBudget.h"
#include "imaging/BmpIO.h"
#include "support/CliRunner.h"
#include "support/HostileImages.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;
using test::RunCli;
using test::TempDir;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class RunLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    pano_ = work_.file("pano.bmp");
    SaveBitmapAsBmp(pano_, test::DrawTexturedPanorama(512));
    const test::CliResult r =
        RunCli(scratch_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "-o", work_.path(), pano_});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work_.path())) names.push_back(e.path().string());
    return names;
  }
  TempDir scratch_, work_;
  std::string pano_;
};

TEST_F(RunLimits, AJobOverTheBudgetIsRefusedBeforeAnythingIsWritten) {
  const std::vector<std::string> before = Files();
  const std::vector<std::vector<std::string>> jobs = {
      {"--max-memory", "1M", "to-cube", "-o", scratch_.path(), pano_},
      {"--max-memory", "1M", "to-pano", "-w", "4096", "-o", scratch_.file("p.tif"),
       work_.file("pano_front.bmp")}};
  for (const auto& job : jobs) {
    const test::CliResult r = RunCli(scratch_, job);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "画像が大きすぎます。")) << r.err;
    EXPECT_TRUE(Has(r.err, "1 MiB")) << r.err;
    EXPECT_FALSE(Has(r.err, "読み込んでいます")) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(Files(), before);
  EXPECT_FALSE(fs::exists(scratch_.file("p.tif")));
  EXPECT_FALSE(fs::exists(scratch_.file("pano_front.jpg")));

  // Within a budget it runs as before; a size it cannot read is a usage error.
  EXPECT_EQ(
      RunCli(scratch_, {"--max-memory", "2GiB", "to-cube", "-q", "-o", scratch_.path(), pano_})
          .status,
      0);
  for (const char* bad : {"0", "lots", "-5G", "4X"}) {
    EXPECT_EQ(RunCli(scratch_, {"--max-memory", bad, "to-cube", pano_}).status, 2) << bad;
  }
}

TEST_F(RunLimits, TheEstimateGrowsWithTheJob) {
  ImageHeader small{"JPEG", 4096, 2048, 3, 8, 24, PixelFormat::Bgr24, 0, 0, 0};
  small.bitmapBytes = small.peakBytes = 4096ull * 2048 * 3;
  ImageHeader large = small;
  large.width = 16384;
  large.height = 8192;
  large.bitmapBytes = large.peakBytes = 16384ull * 8192 * 3;
  EXPECT_GT(ForwardJobBytes(small, 1024, 2), 2 * small.peakBytes);
  EXPECT_GT(ForwardJobBytes(large, 1024, 2), ForwardJobBytes(small, 1024, 2));
  // A source not 2:1 is stretched first: a thin strip costs a 2:1 panorama.
  ImageHeader strip = small;
  strip.width = 53504;
  strip.height = 1;
  strip.bitmapBytes = strip.peakBytes = 53504ull * 3;
  EXPECT_GT(ForwardJobBytes(strip, 64, 1), 53504ull * 26752 * 3);
  EXPECT_GT(InverseJobBytes({small}, 8192, 2), 8192ull * 4096 * 3);
}

TEST(ByteSizes, ReadTheUsualSpellings) {
  EXPECT_EQ(ParseByteSize("512M"), 512ull << 20);
  EXPECT_EQ(ParseByteSize("4g"), 4ull << 30);
  EXPECT_EQ(ParseByteSize("1.5GiB"), 3ull << 29);
  EXPECT_EQ(ParseByteSize("2KB"), 2048u);
  EXPECT_EQ(ParseByteSize("800000"), 800000u);
  for (const char* bad : {"", "G", "0", "-1M", "4X", "1e30"})
    EXPECT_EQ(ParseByteSize(bad), 0u) << bad;
}

TEST_F(RunLimits, SourcesThatAreNotFilesAreRefusedWithTheirOwnMessage) {
  const std::string fifo = work_.file("fifo_front.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(work_.file("folder.jpg"));
  const std::vector<std::vector<std::string>> jobs = {
      {"to-cube", "-o", scratch_.path(), fifo},
      {"to-cube", "-o", scratch_.path(), work_.file("folder.jpg")}};
  for (const auto& job : jobs) {
    const test::CliResult r = RunCli(scratch_, job);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "ファイルではありません")) << r.err;
    EXPECT_FALSE(Has(r.err, "がありません")) << r.err;
  }
  // One face of six a FIFO: found while checking the faces, before any is read.
  fs::remove(work_.file("pano_top.bmp"));
  ASSERT_EQ(mkfifo(work_.file("pano_top.bmp").c_str(), 0600), 0);
  const test::CliResult r =
      RunCli(scratch_, {"to-pano", "-o", scratch_.file("p.tif"), work_.file("pano_front.bmp")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "pano_top.bmp\" は通常のファイルではありません")) << r.err;
  EXPECT_FALSE(fs::exists(scratch_.file("p.tif")));

  // A FIFO under an output name is never opened, even with --force.
  const test::CliResult out =
      RunCli(scratch_, {"to-cube", "-f", "-n", "fifo", "-o", work_.path(), pano_});
  EXPECT_EQ(out.status, 1) << out.err;
  EXPECT_TRUE(Has(out.err, "その名前は FIFO かデバイスです。")) << out.err;
}

// A JPEG cut after its first rows decodes as it always has (the rest grey),
// and the console says that the file is incomplete: whether the warp
// follows the decoder (2 threads) or waits for it (1).
TEST_F(RunLimits, AJpegCutShortSaysSoAndStillConverts) {
  test::JpegSpec spec;
  spec.width = 1024;
  spec.height = 512;
  test::Bytes jpeg = test::EncodeJpegWithLibjpeg(spec);
  const std::string cut = work_.file("cut.jpg");
  test::WriteBytes(cut, test::Cut(jpeg, jpeg.size() / 2));
  for (const char* threads : {"1", "2"}) {
    const test::CliResult r = RunCli(
        scratch_, {"--threads", threads, "to-cube", "-f", "-s", "64", "-o", scratch_.path(), cut});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "ファイルが途中で切れています。読めた部分だけを使います。　" + cut))
        << threads << "\n"
        << r.err;
    EXPECT_TRUE(fs::exists(scratch_.file("cut_front.jpg")));
  }
}

}  // namespace
}  // namespace skyfold
