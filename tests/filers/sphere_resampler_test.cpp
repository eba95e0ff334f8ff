// The general resampler: what each angle means, their order, the inverse,
// antialiasing, and results that do not depend on the thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

#include "filers/SphereResampler.h"
#include "filers/StripBlend.h"
#include "imaging/RowGate.h"

namespace skyfold {
namespace {

constexpr double kPi = std::numbers::pi;

template <typename T = std::uint8_t>
struct Image {
  int width = 0, height = 0, channels = 3;
  std::vector<T> px;
  Image(int w, int h, int c = 3) : width(w), height(h), channels(c), px(std::size_t(w) * h * c) {}
  RasterView<T> view() {
    return {px.data(), width, height, channels, std::ptrdiff_t(width) * channels};
  }
  RasterView<const T> view() const {
    return {px.data(), width, height, channels, std::ptrdiff_t(width) * channels};
  }
  T& at(int x, int y, int k) { return px[(std::size_t(y) * width + x) * channels + k]; }
  T at(int x, int y, int k) const { return px[(std::size_t(y) * width + x) * channels + k]; }
};

using Colour = std::function<std::array<double, 3>(double x, double y, double z)>;

// Smooth colours of a direction, different per channel, continuous over
// the seam and the poles.
std::array<double, 3> Smooth(double x, double y, double z) {
  return {128 + 90 * x + 20 * std::sin(4 * y), 128 + 90 * y + 20 * std::cos(3 * x * z),
          128 + 80 * z + 15 * std::sin(5 * x)};
}

Image<> Panorama(int width, const Colour& colour) {
  Image<> pano(width, width / 2);
  for (int y = 0; y < pano.height; ++y) {
    const double theta = (y + 0.5) * kPi / pano.height;
    for (int x = 0; x < width; ++x) {
      const double phi = (x + 0.5) * 2 * kPi / width - kPi;
      const auto c =
          colour(std::sin(phi) * std::sin(theta), std::cos(theta), std::cos(phi) * std::sin(theta));
      for (int k = 0; k < 3; ++k) pano.at(x, y, k) = static_cast<std::uint8_t>(std::lround(c[k]));
    }
  }
  return pano;
}

Image<> Face(const Image<>& pano, int face, int edge, const Orientation& view,
             ResampleFilter filter = ResampleFilter::Bilinear, const Workers& workers = {}) {
  Image<> out(edge, edge);
  ResampleFaceFromPanorama<std::uint8_t>(pano.view(), face, out.view(), view, filter, workers,
                                         nullptr);
  return out;
}

std::array<Image<>, 6> Faces(const Image<>& pano, int edge, const Orientation& view,
                             ResampleFilter filter = ResampleFilter::Bilinear) {
  return {Face(pano, 0, edge, view, filter), Face(pano, 1, edge, view, filter),
          Face(pano, 2, edge, view, filter), Face(pano, 3, edge, view, filter),
          Face(pano, 4, edge, view, filter), Face(pano, 5, edge, view, filter)};
}

// The panorama band by band as the jobs make it (bands of 7 rows), or with
// bandRows 0 as one band.
Image<> PanoramaOf(const std::array<Image<>, 6>& faces, int width, const Orientation& view,
                   ResampleFilter filter = ResampleFilter::Bilinear, const Workers& workers = {},
                   int bandRows = 7) {
  Image<> out(width, width / 2);
  std::array<RasterView<const std::uint8_t>, 6> views;
  for (int i = 0; i < 6; ++i) views[i] = faces[i].view();
  if (bandRows == 0) {
    ResamplePanoramaFromFaces<std::uint8_t>(views, width, width / 2, 0, out.view(), view, filter,
                                            workers, nullptr);
    return out;
  }
  ResamplePanoramaBands<std::uint8_t>(
      views, width, width / 2, bandRows,
      [&](int y0, int rows) {
        RasterView<std::uint8_t> band = out.view();
        band.data = band.row(y0);
        band.height = rows;
        return band;
      },
      {}, view, filter, workers, nullptr);
  return out;
}

double MeanDifference(const Image<>& a, const Image<>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i) sum += std::abs(int(a.px[i]) - int(b.px[i]));
  return sum / a.px.size();
}

Image<> TurnedCounterClockwise(const Image<>& in) {
  Image<> out(in.height, in.width);
  for (int r = 0; r < out.height; ++r) {
    for (int c = 0; c < out.width; ++c) {
      for (int k = 0; k < 3; ++k) out.at(c, r, k) = in.at(in.width - 1 - r, c, k);
    }
  }
  return out;
}

const char* FilterName(const testing::TestParamInfo<ResampleFilter>& info) {
  switch (info.param) {
    case ResampleFilter::Design:
      return "Design";
    case ResampleFilter::Bilinear:
      return "Bilinear";
    case ResampleFilter::Bicubic:
      return "Bicubic";
    default:
      return "Lanczos3";
  }
}

// ---- the angles ----

struct AngleCase {
  const char* name;
  double yaw, pitch, roll;
  int shownFace;  // the face of the unturned view the front face shows
  bool turnedCounterClockwise;
};

class ResamplerAngles : public testing::TestWithParam<AngleCase> {};

TEST_P(ResamplerAngles, FrontShowsTheNamedFace) {
  const AngleCase& c = GetParam();
  const Image<> pano = Panorama(512, Smooth);
  const Image<> front = Face(pano, 1, 64, Orientation::FromYawPitchRoll(c.yaw, c.pitch, c.roll));
  Image<> expected = Face(pano, c.shownFace, 64, Orientation{});
  if (c.turnedCounterClockwise) expected = TurnedCounterClockwise(expected);
  // The same directions up to rounding.
  EXPECT_LT(MeanDifference(front, expected), 0.05) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Meanings, ResamplerAngles,
    testing::Values(AngleCase{"yaw 90: the right face", 90, 0, 0, 2, false},
                    AngleCase{"yaw -90: the left face", -90, 0, 0, 0, false},
                    AngleCase{"yaw 180: the back face", 180, 0, 0, 3, false},
                    AngleCase{"pitch 90: the top face", 0, 90, 0, 4, false},
                    AngleCase{"pitch -90: the bottom face", 0, -90, 0, 5, false},
                    AngleCase{"roll 90: the front turned left", 0, 0, 90, 1, true},
                    AngleCase{"yaw 450: the right face", 450, 0, 0, 2, false}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// The unturned faces are the classic faces: each side face's centre shows
// the panorama at its centre column, the top face's bottom edge borders the
// front face and the bottom face's top edge the front face.
TEST(ResamplerGeometry, FacesSitWhereTheDesignPutsThem) {
  // Red marks the front (+z), green up (+y), blue the right (+x).
  const Image<> pano = Panorama(512, [](double x, double y, double z) {
    return std::array<double, 3>{127.5 + 127 * x, 127.5 + 127 * y, 127.5 + 127 * z};
  });
  const auto faces = Faces(pano, 32, Orientation{});
  const auto centre = [](const Image<>& f, int k) { return int(f.at(16, 16, k)); };
  EXPECT_GT(centre(faces[1], 2), 250);  // front: +z
  EXPECT_GT(centre(faces[2], 0), 250);  // right: +x
  EXPECT_LT(centre(faces[0], 0), 5);    // left: −x
  EXPECT_LT(centre(faces[3], 2), 5);    // back: −z
  EXPECT_GT(centre(faces[4], 1), 250);  // top: +y
  EXPECT_LT(centre(faces[5], 1), 5);    // bottom: −y
  // Top face: front along the bottom edge, right along the right edge.
  EXPECT_GT(faces[4].at(16, 31, 2), faces[4].at(16, 0, 2) + 100);
  EXPECT_GT(faces[4].at(31, 16, 0), faces[4].at(0, 16, 0) + 100);
  // Bottom face: front along the top edge, right along the right edge.
  EXPECT_GT(faces[5].at(16, 0, 2), faces[5].at(16, 31, 2) + 100);
  EXPECT_GT(faces[5].at(31, 16, 0), faces[5].at(0, 16, 0) + 100);
  // Front face: the right face's side on the right, up at the top.
  EXPECT_GT(faces[1].at(31, 16, 0), faces[1].at(0, 16, 0) + 100);
  EXPECT_GT(faces[1].at(16, 0, 1), faces[1].at(16, 31, 1) + 100);
}

// A float panorama holding its own column and row samples each face pixel
// where the mapping puts it (bilinear weights and averaging keep a linear
// function), so the faces show how far the interpolated positions stray
// from the exact ones: within a few hundredths of a pixel. The side faces
// stay clear of the seam and the poles, where the columns jump.
TEST(ResamplerGeometry, InterpolatedPositionsFollowTheMapping) {
  constexpr int kWidth = 2048, kEdge = 512;
  Image<float> pano(kWidth, kWidth / 2);
  for (int y = 0; y < pano.height; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      pano.at(x, y, 0) = float(x);
      pano.at(x, y, 1) = float(y);
      pano.at(x, y, 2) = 0;
    }
  }
  const Orientation view = Orientation::FromYawPitchRoll(30, 20, 10);
  // The unturned planes of the left, front and right faces: centre, right, down.
  const std::array<std::array<double, 9>, 3> planes{
      {{-1, 0, 0, 0, 0, 1, 0, -1, 0}, {0, 0, 1, 1, 0, 0, 0, -1, 0}, {1, 0, 0, 0, 0, -1, 0, -1, 0}}};
  for (int face = 0; face < 3; ++face) {
    Image<float> out(kEdge, kEdge);
    ResampleFaceFromPanorama<float>(pano.view(), face, out.view(), view, ResampleFilter::Bilinear,
                                    {}, nullptr);
    double worst = 0;
    for (int r = 0; r < kEdge; ++r) {
      for (int c = 0; c < kEdge; ++c) {
        const double u = (c + 0.5) * 2 / kEdge - 1, v = (r + 0.5) * 2 / kEdge - 1;
        const auto& p = planes[face];
        std::array<double, 3> d{};
        for (int k = 0; k < 3; ++k) {
          const double local = p[k] + u * p[3 + k] + v * p[6 + k];
          for (int j = 0; j < 3; ++j) d[j] += view.m[j][k] * local;
        }
        const double x = (std::atan2(d[0], d[2]) + kPi) * kWidth / (2 * kPi) - 0.5;
        const double y = std::atan2(std::hypot(d[0], d[2]), d[1]) * pano.height / kPi - 0.5;
        worst = std::max({worst, std::abs(out.at(c, r, 0) - x), std::abs(out.at(c, r, 1) - y)});
      }
    }
    EXPECT_LT(worst, 0.03) << "face " << face;
  }
}

// yaw, pitch and roll together are the three turns made one after another,
// each on the panorama the previous one gave.
TEST(ResamplerOrder, CombinedTurnIsTheThreeInTurn) {
  const Image<> pano = Panorama(1024, Smooth);
  const auto turned = [](const Image<>& p, const Orientation& view) {
    return PanoramaOf(Faces(p, 512, view), p.width, Orientation{});
  };
  const Image<> yawed = turned(pano, Orientation::FromYawPitchRoll(30, 0, 0));
  const Image<> pitched = turned(yawed, Orientation::FromYawPitchRoll(0, 20, 0));
  const Orientation roll = Orientation::FromYawPitchRoll(0, 0, 10);
  const Orientation all = Orientation::FromYawPitchRoll(30, 20, 10);
  for (int face = 0; face < 6; ++face) {
    EXPECT_LT(MeanDifference(Face(pitched, face, 128, roll), Face(pano, face, 128, all)), 1.0)
        << "face " << face;
  }
  // A different order is a different view.
  const Orientation other = Orientation::Then(Orientation::FromYawPitchRoll(0, 0, 10),
                                              Orientation::FromYawPitchRoll(30, 20, 0));
  EXPECT_GT(MeanDifference(Face(pano, 1, 128, other), Face(pano, 1, 128, all)), 3.0);
}

// ---- the inverse ----

// The error of a round trip, overall, near the turned cube's face edges,
// at the ±180° seam and at the face centres.
struct RoundTripError {
  double all = 0, edges = 0, seam = 0, centres = 0;
};

RoundTripError Compare(const Image<>& source, const Image<>& back, const Orientation& view) {
  double sum[4] = {}, count[4] = {};
  const Orientation toCamera = view.Inverse();
  for (int y = 0; y < source.height; ++y) {
    const double theta = (y + 0.5) * kPi / source.height;
    for (int x = 0; x < source.width; ++x) {
      const double phi = (x + 0.5) * 2 * kPi / source.width - kPi;
      const double w[3] = {std::sin(phi) * std::sin(theta), std::cos(theta),
                           std::cos(phi) * std::sin(theta)};
      double d[3];
      for (int i = 0; i < 3; ++i) {
        d[i] = toCamera.m[i][0] * w[0] + toCamera.m[i][1] * w[1] + toCamera.m[i][2] * w[2];
      }
      // Face coordinates: the two minor components over the major one.
      std::sort(d, d + 3, [](double a, double b) { return std::fabs(a) < std::fabs(b); });
      const double edge = std::max(std::fabs(d[0]), std::fabs(d[1])) / std::fabs(d[2]);
      double e = 0;
      for (int k = 0; k < 3; ++k) e += std::abs(int(source.at(x, y, k)) - int(back.at(x, y, k)));
      e /= 3;
      sum[0] += e;
      count[0] += 1;
      const int group = x < 2 || x >= source.width - 2 ? 2 : edge > 0.97 ? 1 : edge < 0.5 ? 3 : -1;
      if (group > 0) {
        sum[group] += e;
        count[group] += 1;
      }
    }
  }
  return {sum[0] / count[0], sum[1] / count[1], sum[2] / count[2], sum[3] / count[3]};
}

class ResamplerInverse : public testing::TestWithParam<ResampleFilter> {};

TEST_P(ResamplerInverse, RoundTripReturnsThePanorama) {
  const Image<> pano = Panorama(512, Smooth);
  const Orientation view = Orientation::FromYawPitchRoll(30, 20, 10);
  const Image<> back = PanoramaOf(Faces(pano, 256, view, GetParam()), 512, view, GetParam());
  const RoundTripError error = Compare(pano, back, view);
  // About a tenth of a level: a source position off by one pixel of a
  // halved face gives six times that.
  EXPECT_LT(error.all, 0.3);
  EXPECT_LT(error.edges, error.centres + 0.35);
  EXPECT_LT(error.seam, error.centres + 0.35);
}

INSTANTIATE_TEST_SUITE_P(Filters, ResamplerInverse,
                         testing::Values(ResampleFilter::Bilinear, ResampleFilter::Bicubic,
                                         ResampleFilter::Lanczos3),
                         FilterName);

// ---- antialiasing ----

// One-pixel stripes in both directions (a checkerboard) are finer than the
// faces: the classic sampling keeps whole pixels and aliases, the filters
// give the mean.
struct Spread {
  double meanDeviation, worst;
};

Spread SpreadAroundMean(const Image<>& f, double mean) {
  double sum = 0, worst = 0;
  for (std::uint8_t v : f.px) {
    sum += std::fabs(v - mean);
    worst = std::max(worst, std::fabs(v - mean));
  }
  return {sum / f.px.size(), worst};
}

// A panorama of one-pixel squares (stripes: along the rows, or across).
enum class Fine { Squares, Rows, Columns };
Image<> FinePattern(int width, Fine fine) {
  Image<> pano(width, width / 2);
  for (int y = 0; y < pano.height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int on = fine == Fine::Squares ? x + y : fine == Fine::Rows ? y : x;
      for (int k = 0; k < 3; ++k) pano.at(x, y, k) = on % 2 ? 255 : 0;
    }
  }
  return pano;
}

class ResamplerAntialiasing : public testing::TestWithParam<ResampleFilter> {};

TEST_P(ResamplerAntialiasing, FinePatternGivesItsMean) {
  const Image<> pano = FinePattern(1024, Fine::Squares);
  for (int face = 0; face < 6; ++face) {
    const Spread s = SpreadAroundMean(Face(pano, face, 96, Orientation{}, GetParam()), 127.5);
    if (GetParam() == ResampleFilter::Design) {
      EXPECT_GT(s.meanDeviation, 20) << "face " << face;
    } else {
      EXPECT_LT(s.meanDeviation, 3) << "face " << face;
      EXPECT_LT(s.worst, 16) << "face " << face;
    }
  }
  // Stripes average out only with a footprint of both extents. (At the
  // polar faces' corners a face pixel is about a row: stripes there alias.)
  for (Fine stripes : {Fine::Rows, Fine::Columns}) {
    const Image<> striped = FinePattern(1024, stripes);
    for (int face = 0; face < 4 && GetParam() != ResampleFilter::Design; ++face) {
      const Spread s = SpreadAroundMean(Face(striped, face, 96, Orientation{}, GetParam()), 127.5);
      EXPECT_LT(s.meanDeviation, 4) << "face " << face << ", stripes " << int(stripes);
    }
  }
  // Faces finer than the panorama, most of all at their corners.
  Image<> square(128, 128);
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      for (int k = 0; k < 3; ++k) square.at(x, y, k) = (x + y) % 2 ? 255 : 0;
    }
  }
  const std::array<Image<>, 6> fine{square, square, square, square, square, square};
  const Spread s = SpreadAroundMean(PanoramaOf(fine, 256, Orientation{}, GetParam()), 127.5);
  if (GetParam() == ResampleFilter::Design) {
    EXPECT_GT(s.meanDeviation, 20);
  } else {
    EXPECT_LT(s.meanDeviation, 3);
    EXPECT_LT(s.worst, 16);
  }
}

INSTANTIATE_TEST_SUITE_P(Filters, ResamplerAntialiasing,
                         testing::Values(ResampleFilter::Design, ResampleFilter::Bilinear,
                                         ResampleFilter::Bicubic, ResampleFilter::Lanczos3),
                         FilterName);

// ---- threads ----

class ResamplerThreads : public testing::TestWithParam<ResampleFilter> {};

TEST_P(ResamplerThreads, SameSamplesForAnyThreadCount) {
  const Image<> pano = Panorama(512, Smooth);
  const Orientation view = Orientation::FromYawPitchRoll(30, 20, 10);
  ThreadPool one(1), three(3);
  for (int face = 0; face < 6; ++face) {
    EXPECT_EQ(Face(pano, face, 100, view, GetParam(), one.workers()).px,
              Face(pano, face, 100, view, GetParam(), three.workers()).px);
  }
  const auto faces = Faces(pano, 100, view, GetParam());
  // In bands or whole.
  EXPECT_EQ(PanoramaOf(faces, 402, view, GetParam(), one.workers()).px,
            PanoramaOf(faces, 402, view, GetParam(), three.workers(), 0).px);
}

// The vector form of the 8-bit bilinear samples gives the plain form's
// bytes, for three and four channels; an odd face width ends lines on a
// single pixel, and the polar faces read up to the panorama's last pixels.
TEST_P(ResamplerThreads, SameSamplesWithoutVectorForms) {
  const Image<> rgb = Panorama(512, Smooth);
  Image<> rgbaPixels(512, 256, 4);
  for (std::size_t i = 0; i < rgbaPixels.px.size(); ++i) {
    rgbaPixels.px[i] = i % 4 == 3 ? std::uint8_t(i / 4 % 251) : rgb.px[i / 4 * 3 + i % 4];
  }
  const Image<>& rgba = rgbaPixels;
  for (const Image<>* pano : {&rgb, &rgba}) {
    for (const Orientation& view : {Orientation{}, Orientation::FromYawPitchRoll(30, 20, 10)}) {
      for (int size : {100, 137}) {
        std::array<std::vector<std::uint8_t>, 2> faces, back;
        std::vector<Image<>> made(6, Image<>(size, size, pano->channels));
        for (bool vector : {false, true}) {
          UseVectorBlend(vector);
          for (int face = 0; face < 6; ++face) {
            ResampleFaceFromPanorama<std::uint8_t>(pano->view(), face, made[face].view(), view,
                                                   GetParam(), {}, nullptr);
            faces[vector].insert(faces[vector].end(), made[face].px.begin(), made[face].px.end());
          }
          // And back, from the faces of the same form.
          std::array<RasterView<const std::uint8_t>, 6> views;
          for (int i = 0; i < 6; ++i) views[i] = made[i].view();
          Image<> out(4 * size, 2 * size, pano->channels);
          ResamplePanoramaFromFaces<std::uint8_t>(views, out.width, out.height, 0, out.view(), view,
                                                  GetParam(), {}, nullptr);
          back[vector] = out.px;
        }
        EXPECT_EQ(faces[0], faces[1]) << pano->channels << " channels, faces of " << size;
        EXPECT_EQ(back[0], back[1]) << pano->channels << " channels, from faces of " << size;
      }
    }
  }
  UseVectorBlend(true);
}

// Faces made while a decoder on another thread is still at the panorama, in
// bands merged by the rows they read, the decoder taking tiles whenever it
// is ahead: the same samples, though every row the faces have passed is
// overwritten as soon as it is let go.
TEST_P(ResamplerThreads, FacesFollowingADecoderAreTheWholePanoramasFaces) {
  const Image<> pano = Panorama(512, Smooth);
  for (const Orientation& view : {Orientation{}, Orientation::FromYawPitchRoll(30, 20, 10)}) {
    const auto expected = Faces(pano, 100, view, GetParam());
    Image<> source = pano;
    std::array<Image<>, 6> faces{Image<>(100, 100), Image<>(100, 100), Image<>(100, 100),
                                 Image<>(100, 100), Image<>(100, 100), Image<>(100, 100)};
    // The decoder goes on advancing once it is through, so that it keeps
    // taking tiles.
    RowGate gate;
    std::atomic<bool> started{false}, finished{false};
    std::thread decoder([&] {
      while (!started.load()) std::this_thread::yield();
      for (int y = 4; !finished.load(); y = std::min(y + 4, source.height)) {
        gate.Advance(y);
        std::this_thread::yield();
      }
      gate.Finish();
    });
    FaceBands<std::uint8_t> outputs;
    outputs.bandRows = 16;
    outputs.leadRows = 24;
    outputs.band = [&](int face, int firstRow, int rows) {
      started = true;
      RasterView<std::uint8_t> band = faces[face].view();
      band.data = band.row(firstRow);
      band.height = rows;
      return band;
    };
    int let = 0;
    outputs.passed = [&](int rows) {
      EXPECT_GE(rows, let);
      let = rows;
      std::fill(source.px.begin(), source.px.begin() + std::ptrdiff_t(rows) * 512 * 3, 0);
    };
    ThreadPool pool(2);
    ResampleFacesFromPanorama<std::uint8_t>(source.view(), {0, 1, 2, 3, 4, 5}, 100, 100, outputs,
                                            view, GetParam(), pool.workers(), nullptr, &gate);
    finished = true;
    decoder.join();
    for (int f = 0; f < 6; ++f) EXPECT_EQ(faces[f].px, expected[f].px) << "face " << f;
    EXPECT_GT(let, 0) << "rows were let go";
  }
}

INSTANTIATE_TEST_SUITE_P(Filters, ResamplerThreads,
                         testing::Values(ResampleFilter::Design, ResampleFilter::Bilinear,
                                         ResampleFilter::Bicubic, ResampleFilter::Lanczos3),
                         FilterName);

// ---- deep samples ----

// 16-bit and float samples take the same positions and weights as 8-bit
// ones (the halved panoramas near the poles round to the sample type, and
// 8-bit bilinear samples are made in fixed point: a level or so apart);
// floats keep values beyond 0 … 1.
class ResamplerSamples : public ::testing::TestWithParam<ResampleFilter> {};

TEST_P(ResamplerSamples, DeepSamplesFollowTheEightBitOnes) {
  const ResampleFilter filter = GetParam();
  const Image<> pano = Panorama(256, Smooth);
  Image<std::uint16_t> wide(256, 128);
  Image<float> hdr(256, 128);
  for (std::size_t i = 0; i < pano.px.size(); ++i) {
    wide.px[i] = static_cast<std::uint16_t>(pano.px[i] * 257);
    hdr.px[i] = pano.px[i] / 255.0f * 50.0f - 20.0f;
  }
  const Orientation view = Orientation::FromYawPitchRoll(10, 5, 0);
  const Image<> narrow = Face(pano, 1, 48, view, filter);
  Image<std::uint16_t> wideFace(48, 48);
  Image<float> hdrFace(48, 48);
  ResampleFaceFromPanorama<std::uint16_t>(wide.view(), 1, wideFace.view(), view, filter, {},
                                          nullptr);
  ResampleFaceFromPanorama<float>(hdr.view(), 1, hdrFace.view(), view, filter, {}, nullptr);
  float lowest = 1e9f, highest = -1e9f;
  for (std::size_t i = 0; i < narrow.px.size(); ++i) {
    EXPECT_NEAR(wideFace.px[i] / 257.0, narrow.px[i], 1.5);
    EXPECT_NEAR((hdrFace.px[i] + 20.0f) / 50.0f * 255.0f, narrow.px[i], 1.5);
    lowest = std::min(lowest, hdrFace.px[i]);
    highest = std::max(highest, hdrFace.px[i]);
  }
  EXPECT_LT(lowest, 0.0f);
  EXPECT_GT(highest, 1.0f);
}

INSTANTIATE_TEST_SUITE_P(Filters, ResamplerSamples,
                         ::testing::Values(ResampleFilter::Bilinear, ResampleFilter::Bicubic));

TEST(ResamplerSizes, AutoSizes) {
  EXPECT_EQ(AutoFaceEdge(8192), 2600);  // 8 · ⌊8192 / π / 8⌋
  EXPECT_EQ(AutoFaceEdge(16), 8);
  EXPECT_EQ(AutoPanoramaWidth(2048), 6440);
  EXPECT_EQ(AutoPanoramaWidth(2), 64);
  EXPECT_FALSE(UsesGeneralResampler(ResampleOptions{}));
  ResampleOptions turned;
  turned.roll = 1;
  EXPECT_TRUE(UsesGeneralResampler(turned));
}

}  // namespace
}  // namespace skyfold
