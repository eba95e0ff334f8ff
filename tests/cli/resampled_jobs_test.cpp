// skyfold-cli with the general resampler's options: the turned views show
// the classic faces, a round trip through lossless faces returns the
// panorama, any size and "auto", and the sizes that stay refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "support/CliRunner.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

const std::vector<std::string> kSuffixes{"_left", "_front", "_right", "_back", "_top", "_bottom"};

// Smooth colours of the direction of each pixel centre.
Bitmap SmoothPanorama(int width) {
  Bitmap b(width, width / 2, PixelFormat::Bgr24);
  for (int y = 0; y < b.height(); ++y) {
    const double theta = (y + 0.5) * std::numbers::pi / b.height();
    for (int x = 0; x < width; ++x) {
      const double phi = (x + 0.5) * 2 * std::numbers::pi / width - std::numbers::pi;
      const double dx = std::sin(phi) * std::sin(theta), dy = std::cos(theta),
                   dz = std::cos(phi) * std::sin(theta);
      test::SetPixel(b, x, y, static_cast<std::uint8_t>(128 + 90 * dx + 20 * std::sin(4 * dy)),
                     static_cast<std::uint8_t>(128 + 90 * dy + 20 * std::cos(3 * dx * dz)),
                     static_cast<std::uint8_t>(128 + 80 * dz + 15 * std::sin(5 * dx)));
    }
  }
  return b;
}

Bitmap Read(const std::string& path) {
  Bitmap b;
  ReadBmpFile(path, b);
  return b;
}

// Mean difference per channel; `turned` reads b turned a quarter
// counter-clockwise.
double MeanDifference(const Bitmap& a, const Bitmap& b, bool turned = false) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const PaletteEntry p = a.pixel(x, y);
      const PaletteEntry q = turned ? b.pixel(b.width() - 1 - y, x) : b.pixel(x, y);
      sum += std::abs(p.b - q.b) + std::abs(p.g - q.g) + std::abs(p.r - q.r);
    }
  }
  return sum / (3.0 * a.width() * a.height());
}

class ResampledJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    pano_ = work_.file("pano.bmp");
    SaveBitmapAsBmp(pano_, SmoothPanorama(512));
    ASSERT_EQ(
        Run({"to-cube", "-q", "-s", "128", "-t", "bmp", "-n", "design", "-o", work_.path(), pano_})
            .status,
        0);
  }
  CliResult Run(const std::vector<std::string>& args) { return RunCli(scratch_, args); }
  std::string Face(const std::string& base, int i) const {
    return work_.file(base + kSuffixes[i] + ".bmp");
  }
  TempDir scratch_;
  TempDir work_;
  std::string pano_;
};

struct TurnCase {
  const char* option;
  const char* degrees;
  int designFace;
  bool turned;
};

class ResampledTurns : public ResampledJobs, public testing::WithParamInterface<TurnCase> {};

// The classic faces and the resampler's differ only in where they put
// pixel centres (half a pixel); smooth colours make that a small difference.
TEST_P(ResampledTurns, FrontShowsTheDesignsFace) {
  const TurnCase& c = GetParam();
  const CliResult r = Run({"to-cube", "-q", "-s", "128", "-t", "bmp", "-n", "turned", c.option,
                           c.degrees, "-o", work_.path(), pano_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(MeanDifference(Read(Face("turned", 1)), Read(Face("design", c.designFace)), c.turned),
            1.5);
}

INSTANTIATE_TEST_SUITE_P(Angles, ResampledTurns,
                         testing::Values(TurnCase{"--yaw", "90", 2, false},
                                         TurnCase{"--pitch", "90", 4, false},
                                         TurnCase{"--roll", "90", 1, true}));

TEST_F(ResampledJobs, RoundTripWithTheSameTurnReturnsThePanorama) {
  const std::vector<std::string> turn{"--yaw", "30", "--pitch", "20", "--roll", "10"};
  std::vector<std::string> cube{"to-cube", "-q",     "-s", "256",        "-t",       "bmp",
                                "-n",      "turned", "-o", work_.path(), "--filter", "bicubic"};
  cube.insert(cube.end(), turn.begin(), turn.end());
  cube.push_back(pano_);
  ASSERT_EQ(Run(cube).status, 0);
  const std::string back = work_.file("back.bmp");
  std::vector<std::string> pano{"to-pano", "-q", "-w", "512", "--filter", "bicubic", "-o", back};
  pano.insert(pano.end(), turn.begin(), turn.end());
  pano.push_back(Face("turned", 1));
  const CliResult r = Run(pano);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(MeanDifference(Read(back), Read(pano_)), 1.0);
}

// A JPEG panorama is encoded band by band as it is made: the file holds
// exactly the encoding of the panorama the same job writes whole, on any
// number of threads.
TEST_F(ResampledJobs, StreamedJpegPanoramaIsTheWholeOnesEncoding) {
  const std::string whole = work_.file("whole.bmp");
  ASSERT_EQ(
      Run({"to-pano", "-q", "-w", "600", "--filter", "bilinear", "-o", whole, Face("design", 1)})
          .status,
      0);
  const std::vector<std::uint8_t> expected = EncodeJpeg(Read(whole), 100);
  for (const char* threads : {"1", "2", "3"}) {
    const std::string streamed = work_.file(std::string("streamed") + threads + ".jpg");
    const CliResult r = Run({"--threads", threads, "to-pano", "-q", "-w", "600", "--filter",
                             "bilinear", "-o", streamed, Face("design", 1)});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(streamed, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(bytes, expected) << threads << " threads";
  }
}

// A JPEG source is decoded on one worker while the faces follow it: on more
// threads the faces are those of the whole decoded source, turned toward a
// pole and from a truncated file too.
TEST_F(ResampledJobs, FacesFollowingTheDecoderOnMoreThreadsAreTheWholeSourcesFaces) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(SmoothPanorama(512), 95);
  for (const std::size_t kept : {jpeg.size(), jpeg.size() * 3 / 5}) {
    const std::string source = work_.file("source.jpg");
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(kept));
    for (const char* threads : {"1", "3"}) {
      const CliResult r = Run({"--threads",
                               threads,
                               "to-cube",
                               "-q",
                               "-f",
                               "-s",
                               "64",
                               "--filter",
                               "lanczos3",
                               "--pitch",
                               "-60",
                               "--yaw",
                               "20",
                               "-t",
                               "bmp",
                               "-n",
                               std::string("t") + threads,
                               "-o",
                               work_.path(),
                               source});
      ASSERT_EQ(r.status, 0) << r.err;
    }
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(MeanDifference(Read(Face("t1", i)), Read(Face("t3", i))), 0.0)
          << kSuffixes[i] << ", " << kept << " bytes";
    }
  }
}

// JPEG faces are encoded band by band as they are made, the bands of the
// faces taken in the order of the rows they read while the source decodes:
// each file holds exactly the encoding of the face the same job writes
// whole, turned or not, on any number of threads.
TEST_F(ResampledJobs, StreamedJpegFacesAreTheWholeFacesEncoding) {
  const std::string source = work_.file("smooth.jpg");
  SaveBitmapAsJpeg(source, SmoothPanorama(2048), 95);
  for (const std::vector<std::string>& turn :
       {std::vector<std::string>{},
        std::vector<std::string>{"--yaw", "20", "--pitch", "-60", "--roll", "10"}}) {
    const auto run = [&](const std::string& threads, const std::string& type,
                         const std::string& base) {
      std::vector<std::string> args{"--threads", threads, "to-cube",  "-q",       "-f",
                                    "-s",        "600",   "--filter", "bilinear", "-t",
                                    type,        "-n",    base,       "-o",       work_.path()};
      args.insert(args.end(), turn.begin(), turn.end());
      args.push_back(source);
      const CliResult r = Run(args);
      ASSERT_EQ(r.status, 0) << r.err;
    };
    run("1", "bmp", "whole");
    for (const char* threads : {"1", "2", "3"}) {
      run(threads, "jpg", "streamed");
      for (int i = 0; i < 6; ++i) {
        std::ifstream in(work_.file("streamed" + kSuffixes[i] + ".jpg"), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_TRUE(bytes == EncodeJpeg(Read(Face("whole", i)), 100))
            << kSuffixes[i] << ", " << threads << " threads, " << turn.size() << " turn options";
      }
    }
  }
}

TEST_F(ResampledJobs, AnySizeAndAuto) {
  CliResult r =
      Run({"to-cube", "-q", "-s", "auto", "-t", "bmp", "-n", "a", "-o", work_.path(), pano_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Face("a", 4)).width(), 160);  // 8 · ⌊512 / π / 8⌋
  r = Run({"to-cube", "-q", "-s", "50", "-t", "bmp", "-n", "b", "-o", work_.path(), pano_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Face("b", 0)).height(), 50);
  const std::string out = work_.file("auto.bmp");
  r = Run({"to-pano", "-q", "-w", "auto", "-o", out, Face("b", 0)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(out).width(), 160);  // 8 · ⌈50π / 8⌉
  r = Run({"to-pano", "-q", "-w", "202", "-o", work_.file("odd.bmp"), Face("b", 0)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(work_.file("odd.bmp")).height(), 101);
}

TEST_F(ResampledJobs, SizesOutsideTheRangesAreUsageErrors) {
  for (const char* size : {"7", "16385", "abc", "64.5"}) {
    const CliResult r = Run({"to-cube", "-s", size, pano_});
    EXPECT_EQ(r.status, 2) << size;
    EXPECT_NE(r.err.find("2048"), std::string::npos) << r.err;
  }
  for (const char* width : {"62", "301", "65502"}) {
    EXPECT_EQ(Run({"to-pano", "-w", width, "-o", work_.file("x.bmp"), Face("design", 1)}).status, 2)
        << width;
  }
  EXPECT_EQ(Run({"to-cube", "--filter", "nearest", pano_}).status, 2);
  EXPECT_EQ(Run({"to-pano", "--yaw", "east", "-o", work_.file("x.bmp"), Face("design", 1)}).status,
            2);
}

}  // namespace
}  // namespace skyfold
