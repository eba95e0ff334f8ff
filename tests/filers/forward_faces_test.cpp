// The six faces written by the forward conversion, read back from real
// files: every pixel against the cube geometry, landmarks where the face
// layout puts them, the back face across the seam, the polar faces' pieces,
// and the stretch to the face edge.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "filers/SimFilers.h"
#include "imaging/BmpIO.h"
#include "imaging/PathUtils.h"
#include "imaging/Raster.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::TempDir;

// Keeps the faces handed to SaveImage instead of writing them: full-size
// faces would cost hundreds of megabytes of disk traffic per run.
class FaceKeepingFiler : public TSimFiler {
 public:
  void SaveImage(Bitmap& bitmap, const std::string&, std::uint8_t faceIndex) override {
    kept[faceIndex] = bitmap.clone();
  }
  std::array<Bitmap, 6> kept;
};

const char* const kFaceNames[6] = {"left", "front", "right", "back", "top", "bottom"};

// A base filer writing BMP faces named face_<name>.bmp into dir.
void PrepareFiler(TSimFiler& filer, const TempDir& dir, int outputSize) {
  filer.SetSceneFilename(IncludeTrailingPathDelimiter(dir.path()));
  filer.SetTextureBasename("face");
  filer.SetExtractImageType(eiBitmap);
  filer.BuildFileNames();
  filer.OutputSize = outputSize;
}

// Warps the panorama, writes the six faces and reads them back.
std::array<Bitmap, 6> ConvertToFaces(Bitmap panorama, int outputSize,
                                     std::vector<std::string>* progress = nullptr) {
  TempDir dir;
  TSimFiler filer;
  PrepareFiler(filer, dir, outputSize);
  if (progress) {
    filer.OnProgress = [&](TSimFiler*, const std::string& s, TSimProgressMode mode) {
      if (mode == spAppend || progress->empty()) {
        progress->push_back(s);
      } else {
        progress->back() += s;
      }
    };
  }
  filer.WarpImage(panorama);
  filer.SaveCubeFaces(panorama);
  std::array<Bitmap, 6> faces;
  for (int i = 0; i < 6; ++i) {
    ReadBmpFile(dir.file(std::string("face_") + kFaceNames[i] + ".bmp"), faces[i]);
  }
  return faces;
}

// Compares every pixel of every face with the blend at the position the
// cube geometry gives; the table's ten-thousandths may move a blend by one
// level now and then, never more.
void ExpectFacesFollowTheGeometry(int width) {
  const int q = width / 8;
  const Bitmap pano = test::DrawTexturedPanorama(width);
  const std::array<Bitmap, 6> faces = ConvertToFaces(pano.clone(), 2 * q);
  long exact = 0, total = 0;
  for (int f = 0; f < 6; ++f) {
    ASSERT_EQ(faces[f].width(), 2 * q);
    ASSERT_EQ(faces[f].height(), 2 * q);
    for (int r = 0; r < 2 * q; ++r) {
      for (int c = 0; c < 2 * q; ++c) {
        const auto pos = test::FaceSourcePosition(q, f, c, r);
        ASSERT_TRUE(pos.has_value()) << "no piece covers " << kFaceNames[f] << " " << c << "," << r;
        const PaletteEntry got = faces[f].pixel(c, r);
        ASSERT_FALSE(test::IsPureWhite(got)) << kFaceNames[f] << " " << c << "," << r;
        const int distance = test::LevelDistance(got, test::BlendAt(pano, *pos));
        ASSERT_LE(distance, 1) << kFaceNames[f] << " " << c << "," << r;
        exact += distance == 0;
        ++total;
      }
    }
  }
  // Off-by-one levels are rare rounding accidents, not a habit.
  EXPECT_GE(exact * 1000, total * 995) << exact << " of " << total;
}

TEST(ForwardFaces, EveryFacePixelIsTheBlendAtItsCubeDirection) {
  ExpectFacesFollowTheGeometry(256);
}

TEST(ForwardFaces, SmallPanoramasConvertCompletely) {
  ExpectFacesFollowTheGeometry(96);
  // Narrower than 80 pixels: strips under 40 rows.
  ExpectFacesFollowTheGeometry(64);
}

struct Landmark {
  double longitude, latitude;
  int face;
  double column, row;  // expected place in the face (q = 32)
};

// Centroid of the pure red pixels of a face.
bool FindRed(const Bitmap& face, double& column, double& row) {
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 0; y < face.height(); ++y) {
    for (int x = 0; x < face.width(); ++x) {
      const PaletteEntry p = face.pixel(x, y);
      if (p.r > 200 && p.g < 60 && p.b < 60) {
        sx += x;
        sy += y;
        ++n;
      }
    }
  }
  if (n == 0) return false;
  column = sx / n;
  row = sy / n;
  return true;
}

// Where a direction lands on its face, from the cube's geometry: side faces
// are seen from inside with the zenith up; the top face has the front along
// its bottom edge and the right face along its right edge; the bottom face
// the front along its top edge and the right face along its right edge.
Landmark Expect(double longitude, double latitude, int face, int q) {
  const double rad = std::numbers::pi / 180.0;
  const double centres[4] = {90, 180, 270, 0};
  double c, r;
  if (face < 4) {
    const double delta = (longitude - centres[face]) * rad;
    c = q + q * std::tan(delta);
    r = q - q * std::tan(latitude * rad) / std::cos(delta);
  } else {
    const double delta = (longitude - 180.0) * rad;
    const double reach = q / std::tan(std::abs(latitude) * rad);
    c = q + reach * std::sin(delta);
    r = face == 4 ? q + reach * std::cos(delta) : q - reach * std::cos(delta);
  }
  return Landmark{longitude, latitude, face, c, r};
}

TEST(ForwardFaces, LandmarksLandWhereTheFaceLayoutSays) {
  const int q = 32;
  std::vector<Landmark> marks{
      Expect(120, 20, 0, q),   // left face: right of centre, above the horizon
      Expect(180, -25, 1, q),  // front face: below its centre
      Expect(250, 10, 2, q),   // right face: left of centre
      Expect(15, 0, 3, q),     // back face: right half, from the panorama's left end
      Expect(180, 62, 4, q),   // top face: towards its bottom edge (the front)
      Expect(270, 62, 4, q),   // top face: towards its right edge
      Expect(90, -62, 5, q),   // bottom face: towards its left edge
      Expect(180, -62, 5, q),  // bottom face: towards its top edge (the front)
  };
  for (const Landmark& m : marks) {
    Bitmap pano(8 * q, 4 * q);
    for (int y = 0; y < pano.height(); ++y) {
      for (int x = 0; x < pano.width(); ++x) test::SetPixel(pano, x, y, 90, 90, 90);
    }
    test::DrawLandmark(pano, m.longitude, m.latitude, 3, 0, 0, 255);
    const std::array<Bitmap, 6> faces = ConvertToFaces(std::move(pano), 2 * q);
    double c = 0, r = 0;
    ASSERT_TRUE(FindRed(faces[m.face], c, r)) << kFaceNames[m.face] << " " << m.longitude;
    EXPECT_NEAR(c, m.column, 2.0) << kFaceNames[m.face] << " " << m.longitude << "/" << m.latitude;
    EXPECT_NEAR(r, m.row, 2.0) << kFaceNames[m.face] << " " << m.longitude << "/" << m.latitude;
    for (int f = 0; f < 6; ++f) {
      double oc, orow;
      if (f != m.face) {
        EXPECT_FALSE(FindRed(faces[f], oc, orow)) << kFaceNames[f];
      }
    }
  }
}

TEST(ForwardFaces, BackFaceJoinsBothEndsOfThePanoramaWithoutASeam) {
  const int q = 32;
  // Colour follows the angle from the back direction, so the two ends of
  // the panorama meet: any seam would show as a jump.
  Bitmap pano(8 * q, 4 * q);
  for (int y = 0; y < 4 * q; ++y) {
    for (int x = 0; x < 8 * q; ++x) {
      const int fromBack = std::min(x, 8 * q - 1 - x);
      test::SetPixel(pano, x, y, static_cast<std::uint8_t>(fromBack), 100,
                     static_cast<std::uint8_t>(y));
    }
  }
  const std::array<Bitmap, 6> faces = ConvertToFaces(std::move(pano), 2 * q);
  const Bitmap& back = faces[fiBack];
  for (int r = 0; r < 2 * q; ++r) {
    // Mirror symmetric about the centre line, and continuous across it.
    for (int c = 0; c < q; ++c) {
      EXPECT_LE(test::LevelDistance(back.pixel(c, r), back.pixel(2 * q - 1 - c, r)), 1)
          << c << "," << r;
    }
    EXPECT_LE(std::abs(back.pixel(q - 1, r).b - back.pixel(q, r).b), 1);
    EXPECT_LE(back.pixel(q, r).b, 1);  // the centre looks straight back
  }
}

TEST(ForwardFaces, ProgressNamesEveryFileAndCountsThePieces) {
  std::vector<std::string> lines;
  ConvertToFaces(test::DrawTexturedPanorama(64), 16, &lines);
  ASSERT_GE(lines.size(), 7u);
  const std::vector<std::string> tail(lines.end() - 7, lines.end());
  const std::vector<std::string> expected{"画像ファイルを書き出しています。",
                                          "face_left.bmp",
                                          "face_front.bmp",
                                          "face_right.bmp",
                                          "face_back.bmp....",
                                          "face_top.bmp....",
                                          "face_bottom.bmp...."};
  EXPECT_EQ(tail, expected);
}

TEST(ForwardFaces, NamesBeyondTheSixFacesWriteNothing) {
  TempDir dir;
  TSimFiler filer;
  filer.SetSceneType(stSphere);
  PrepareFiler(filer, dir, 16);
  ASSERT_EQ(filer.FileNames.size(), 20u);
  std::vector<std::string> appended;
  filer.OnProgress = [&](TSimFiler*, const std::string& s, TSimProgressMode mode) {
    if (mode == spAppend) appended.push_back(s);
  };
  Bitmap pano = test::DrawTexturedPanorama(64);
  filer.SaveCubeFaces(pano);
  EXPECT_EQ(appended.size(), 21u);  // the title, then every name
  for (std::size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(FileExists(dir.file(filer.FileNames[i])), i < 6) << filer.FileNames[i];
  }
}

TEST(ForwardFaces, FacesAreStretchedToTheEdgeByPointSampling) {
  const int q = 12;
  const Bitmap pano = test::DrawTexturedPanorama(8 * q);
  const std::array<Bitmap, 6> natural = ConvertToFaces(pano.clone(), 2 * q);
  const std::array<Bitmap, 6> scaled = ConvertToFaces(pano.clone(), 64);
  for (int f = 0; f < 6; ++f) {
    ASSERT_EQ(scaled[f].width(), 64);
    Bitmap expected(64, 64);
    StretchDraw(expected, Rect{0, 0, 64, 64}, natural[f]);
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) ASSERT_EQ(scaled[f].pixel(x, y), expected.pixel(x, y));
    }
  }
}

// An unfolded panorama of width w with a pattern that tells every column
// and row apart. The cutter does not care whether the bitmap was warped, so
// this stands in for the warp's result.
Bitmap PatternedPanorama(int w) {
  Bitmap pano(w, w / 2);
  for (int y = 0; y < w / 2; ++y) {
    std::uint8_t* p = pano.row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(x >> 8);
      p[2] = static_cast<std::uint8_t>(y * 7);
    }
  }
  return pano;
}

// Cuts the side and back faces (the back straddles the seam) at the given
// edge and checks each face pixel against the panorama pixel it scales.
void ExpectSideFacesScaled(int w, int edge) {
  const int q = w / 8;
  const Bitmap pano = PatternedPanorama(w);
  TempDir dir;
  FaceKeepingFiler filer;
  PrepareFiler(filer, dir, edge);
  filer.FileNames.resize(4);
  Bitmap work = pano.clone();
  filer.SaveCubeFaces(work);
  const int scale = edge / (2 * q);
  std::vector<std::uint8_t> expected(static_cast<std::size_t>(edge) * 3);
  for (int f = 0; f < 4; ++f) {
    const Bitmap& face = filer.kept[f];
    ASSERT_EQ(face.width(), edge);
    ASSERT_EQ(face.height(), edge);
    for (int r = 0; r < edge; ++r) {
      const std::uint8_t* src = pano.row(q + r / scale);
      for (int c = 0; c < edge; ++c) {
        const int x = ((2 * f + 1) * q + c / scale) % w;
        std::copy(src + 3 * x, src + 3 * x + 3, expected.begin() + 3 * c);
      }
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), face.row(r)))
          << "edge " << edge << " face " << f << " row " << r;
    }
  }
}

// Full size: W = 8192 gives faces of 2048, saved as cut. The doubling at the
// largest edge is the same stretch as at a smaller scale, checked there.
TEST(ForwardFaces, FullSizePanoramaIsCutOneToOne) { ExpectSideFacesScaled(8192, 2048); }

TEST(ForwardFaces, EveryPixelIsDoubledWhenTheEdgeIsTwiceTheCut) {
  ExpectSideFacesScaled(1024, 512);
}

}  // namespace
}  // namespace skyfold
