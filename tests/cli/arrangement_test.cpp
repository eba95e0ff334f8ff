// Presets, layouts and name templates through the real skyfold-cli and real
// files: every preset and layout converted back gives the classic bytes
// (BMP, TIFF) or the classic panorama within JPEG's error, a single image's
// cells are exactly the preset's faces, the crosses' touching cells agree
// along every shared edge, and bad names or shapes are refused up front.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "filers/FaceArrangement.h"
#include "imaging/BmpIO.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"
#include "support/CliRunner.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;
using test::RunCli;
using test::TempDir;

const std::vector<std::string> kPresets{"design",    "opengl", "threejs",
                                        "pannellum", "psv",    "krpano"};
const std::vector<std::string> kLayouts{"faces", "row", "column", "3x2", "2x3", "hcross", "vcross"};

// The last line of stdout: the last file a job listed.
std::string LastListed(const std::string& out) {
  const std::size_t end = out.find_last_not_of('\n');
  const std::size_t start = out.rfind('\n', end);
  return out.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

std::vector<std::string> Listed(const std::string& out) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < out.size();) {
    const std::size_t end = out.find('\n', at);
    lines.push_back(out.substr(at, end - at));
    at = end == std::string::npos ? out.size() : end + 1;
  }
  return lines;
}

Bitmap Load(const std::string& name) {
  Bitmap bitmap;
  EXPECT_TRUE(LoadImageFile(bitmap, name)) << name;
  ConvertToBgr24(bitmap);
  return bitmap;
}

double MeanAbsDiff(const Bitmap& a, const Bitmap& b) {
  if (a.width() != b.width() || a.height() != b.height()) return 255;
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width() * 3; ++x) sum += std::abs(a.row(y)[x] - b.row(y)[x]);
  }
  return sum / (3.0 * a.width() * a.height());
}

// A labelled panorama, its design faces, and the panorama they give back.
class Arranged : public ::testing::Test {
 protected:
  void SetUp() override {
    pano_ = dir_.file("pano.bmp");
    ASSERT_EQ(RunCli(dir_, {"test-pattern", "-w", "256", pano_}).status, 0);
  }
  // The panorama that to-pano makes from the faces written for args.
  std::string RoundTrip(const std::string& folder, const std::vector<std::string>& cubeArgs,
                        const std::vector<std::string>& panoArgs) {
    fs::create_directories(dir_.file(folder));
    std::vector<std::string> args{"to-cube", "-q", "-s", "64", "-o", dir_.file(folder)};
    args.insert(args.end(), cubeArgs.begin(), cubeArgs.end());
    args.push_back(pano_);
    const test::CliResult cube = RunCli(dir_, args);
    EXPECT_EQ(cube.status, 0) << cube.err;
    const std::string output = dir_.file(folder + ".bmp");
    std::vector<std::string> back{"to-pano", "-w", "256", "-o", output};
    back.insert(back.end(), panoArgs.begin(), panoArgs.end());
    back.push_back(LastListed(cube.out));
    const test::CliResult pano = RunCli(dir_, back);
    EXPECT_EQ(pano.status, 0) << pano.err;
    lastErr_ = pano.err;
    return output;
  }
  TempDir dir_;
  std::string pano_;
  std::string lastErr_;
};

class EveryArrangement
    : public Arranged,
      public ::testing::WithParamInterface<std::tuple<std::string, std::string, std::string>> {};

TEST_P(EveryArrangement, ConvertsBackToTheDesignsPanorama) {
  const auto& [preset, layout, type] = GetParam();
  const std::string design = RoundTrip("design", {"-t", type}, {});
  const std::vector<std::string> cubeArgs{"-t", type, "--preset", preset, "--layout", layout};
  // A single image's layout is found by its shape; the preset must be named.
  const std::string arranged = RoundTrip("arranged", cubeArgs, {"--preset", preset});
  if (layout != "faces") {
    EXPECT_NE(lastErr_.find("layout: " + layout), std::string::npos);
  }
  if (type == "jpg") {
    EXPECT_LT(MeanAbsDiff(Load(design), Load(arranged)), 1.5);
  } else {
    EXPECT_EQ(test::ReadBytes(design), test::ReadBytes(arranged));
  }
}

INSTANTIATE_TEST_SUITE_P(PresetsLayoutsTypes, EveryArrangement,
                         ::testing::Combine(::testing::ValuesIn(kPresets),
                                            ::testing::ValuesIn(kLayouts),
                                            ::testing::Values("bmp", "tif", "jpg")),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param) + "_" +
                                              std::get<1>(info.param) + "_" +
                                              std::get<2>(info.param);
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// The pixels of cell (column, row) of an image of n-pixel cells.
Bitmap Cell(const Bitmap& image, int column, int row, int n) {
  Bitmap cell(n, n);
  for (int y = 0; y < n; ++y) {
    std::copy_n(image.row(row * n + y) + column * n * 3, n * 3, cell.row(y));
  }
  return cell;
}

class StripLayout : public Arranged,
                    public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {};

TEST_P(StripLayout, CellsAreThePresetsFacesInItsOrder) {
  const auto& [preset, layout] = GetParam();
  fs::create_directories(dir_.file("six"));
  const test::CliResult six = RunCli(dir_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "--preset",
                                            preset, "-o", dir_.file("six"), pano_});
  ASSERT_EQ(six.status, 0) << six.err;
  const test::CliResult one = RunCli(dir_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "--preset",
                                            preset, "--layout", layout, pano_});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(LastListed(one.out), fs::absolute(dir_.file("pano_" + layout + ".bmp")).string());
  const Bitmap image = Load(LastListed(one.out));
  const FaceLayout* shape = FindLayout(layout);
  ASSERT_NE(shape, nullptr);
  const std::vector<std::string> faces = Listed(six.out);
  ASSERT_EQ(faces.size(), 6u);
  for (int k = 0; k < 6; ++k) {
    const LayoutCell& cell = shape->cells[static_cast<std::size_t>(k)];
    EXPECT_EQ(MeanAbsDiff(Cell(image, cell.column, cell.row, 64), Load(faces[k])), 0.0) << faces[k];
  }
}

INSTANTIATE_TEST_SUITE_P(PresetsStrips, StripLayout,
                         ::testing::Combine(::testing::ValuesIn(kPresets),
                                            ::testing::Values("row", "column", "3x2", "2x3")),
                         [](const auto& info) {
                           return std::get<0>(info.param) + "_" +
                                  (std::get<1>(info.param) == "3x2"   ? std::string("grid3x2")
                                   : std::get<1>(info.param) == "2x3" ? std::string("grid2x3")
                                                                      : std::get<1>(info.param));
                         });

// Mean difference across the edges shared by touching cells of a cross
// (empty cells are black); the worst edge.
double WorstSharedEdge(const Bitmap& image, const FaceLayout& shape, int n) {
  std::vector<std::vector<bool>> used(shape.columns, std::vector<bool>(shape.rows, false));
  for (const LayoutCell& cell : shape.cells) used[cell.column][cell.row] = true;
  double worst = 0;
  for (int c = 0; c < shape.columns; ++c) {
    for (int r = 0; r < shape.rows; ++r) {
      if (!used[c][r]) continue;
      if (c + 1 < shape.columns && used[c + 1][r]) {
        double sum = 0;
        for (int y = 0; y < n; ++y) {
          const std::uint8_t* a = image.row(r * n + y) + ((c + 1) * n - 1) * 3;
          for (int i = 0; i < 3; ++i) sum += std::abs(a[i] - a[i + 3]);
        }
        worst = std::max(worst, sum / (3.0 * n));
      }
      if (r + 1 < shape.rows && used[c][r + 1]) {
        double sum = 0;
        const std::uint8_t* above = image.row((r + 1) * n - 1) + c * n * 3;
        const std::uint8_t* below = image.row((r + 1) * n) + c * n * 3;
        for (int i = 0; i < n * 3; ++i) sum += std::abs(above[i] - below[i]);
        worst = std::max(worst, sum / (3.0 * n));
      }
    }
  }
  return worst;
}

class Cross : public Arranged, public ::testing::WithParamInterface<std::string> {};

TEST_P(Cross, TouchingCellsAgreeAlongEveryEdgeAndATurnedCellShows) {
  // A smooth panorama: across an edge that joins the right faces the
  // colour hardly changes.
  Bitmap smooth(512, 256);
  for (int y = 0; y < 256; ++y) {
    const double lat = M_PI / 2 - (y + 0.5) / 256 * M_PI;
    for (int x = 0; x < 512; ++x) {
      const double lon = (x + 0.5) / 512 * 2 * M_PI;
      std::uint8_t* p = smooth.row(y) + x * 3;
      p[0] = static_cast<std::uint8_t>(128 + 120 * std::cos(lat) * std::cos(lon));
      p[1] = static_cast<std::uint8_t>(128 + 120 * std::cos(lat) * std::sin(lon));
      p[2] = static_cast<std::uint8_t>(128 + 120 * std::sin(lat));
    }
  }
  SaveBitmapAsBmp(dir_.file("smooth.bmp"), smooth);
  const test::CliResult r = RunCli(dir_, {"to-cube", "-q", "-s", "128", "-t", "bmp", "--layout",
                                          GetParam(), dir_.file("smooth.bmp")});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bitmap image = Load(LastListed(r.out));
  const FaceLayout& shape = *FindLayout(GetParam());
  const double agreed = WorstSharedEdge(image, shape, 128);
  EXPECT_LT(agreed, 3.0);
  // Any one cell turned by a quarter breaks at least one of its edges.
  for (int d = 0; d < 6; ++d) {
    const LayoutCell& cell = shape.cells[static_cast<std::size_t>(d)];
    Bitmap turned = image.clone();
    DrawTurned(turned, cell.column * 128, cell.row * 128, Cell(image, cell.column, cell.row, 128),
               FaceTurn{1, false});
    EXPECT_GT(WorstSharedEdge(turned, shape, 128), 4 * agreed + 10) << "cell of face " << d;
  }
  // Empty cells are black.
  EXPECT_EQ(image.row(0)[0] + image.row(0)[1] + image.row(0)[2], 0);
}

INSTANTIATE_TEST_SUITE_P(Crosses, Cross, ::testing::Values("hcross", "vcross"));

TEST_F(Arranged, NameTemplateWritesFoldersAndIsFoundFromAnyFace) {
  fs::create_directories(dir_.file("cubes"));
  // A refused job leaves no folder of its own behind.
  ASSERT_EQ(RunCli(dir_, {"to-cube", "-q", "-s", "64", "--name", "{base}/{face}", "-o",
                          dir_.file("cubes"), dir_.file("missing.bmp")})
                .status,
            1);
  EXPECT_FALSE(fs::exists(dir_.file("cubes/missing")));
  const test::CliResult cube =
      RunCli(dir_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "--preset", "threejs", "--name",
                    "{base}/{face}", "-o", dir_.file("cubes"), pano_});
  ASSERT_EQ(cube.status, 0) << cube.err;
  EXPECT_TRUE(fs::exists(dir_.file("cubes/pano/px.bmp")));
  EXPECT_TRUE(fs::exists(dir_.file("cubes/pano/nz.bmp")));
  const std::string design = RoundTrip("design", {"-t", "bmp"}, {});
  const test::CliResult back =
      RunCli(dir_, {"to-pano", "-w", "256", "--preset", "threejs", "--name", "{base}/{face}", "-o",
                    dir_.file("named.bmp"), dir_.file("cubes/pano/py.bmp")});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(test::ReadBytes(design), test::ReadBytes(dir_.file("named.bmp")));
}

TEST_F(Arranged, TemplateGivingTwoFacesOneNameIsRefusedBeforeAnythingIsWritten) {
  for (const char* bad : {"{base}", "cube", "{base}_{base}"}) {
    const test::CliResult r = RunCli(dir_, {"to-cube", "-s", "64", "--name", bad, pano_});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("same name"), std::string::npos) << r.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

TEST_F(Arranged, SingleImageOfNoLayoutsShapeIsRefused) {
  // The 2:1 panorama itself is no face name and fits no layout.
  const test::CliResult r = RunCli(
      dir_, {"to-pano", "-w", "256", "--preset", "opengl", "-o", dir_.file("out.bmp"), pano_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("fits none"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.file("out.bmp")));
}

TEST_F(Arranged, ExplicitLayoutOfTheWrongShapeIsRefused) {
  const test::CliResult cube =
      RunCli(dir_, {"to-cube", "-q", "-s", "64", "-t", "bmp", "--layout", "3x2", pano_});
  ASSERT_EQ(cube.status, 0);
  const test::CliResult r = RunCli(dir_, {"to-pano", "-w", "256", "--layout", "hcross", "-o",
                                          dir_.file("out.bmp"), LastListed(cube.out)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("hcross"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.file("out.bmp")));
}

}  // namespace
}  // namespace skyfold
