// The inverse mapping table: its ranges and symmetries, the poles, the
// geometry of each entry read back as a direction, the switch between side
// and top face, and independence from the thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "filers/PanoFiler.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

constexpr double kPi = 3.14159265358979323846;

TmxCurrencyUV BuildTable(int q, int threads = 0) {
  TPanoFiler filer;
  const test::ScopedRun run(filer, threads);
  TmxCurrencyUV table;
  table.SetSizeMirrored(2 * q, 4 * q);
  filer.BuildMappingTable(q, table);
  return table;
}

// Source positions in ten-thousandths of a pixel.
std::int64_t Column(const TCurrencyUV& e) { return std::int64_t{e.U} * 10000 + e.UFrac.raw; }
std::int64_t Row(const TCurrencyUV& e) { return std::int64_t{e.V} * 10000 + e.VFrac.raw; }

double Degrees(int n, int q) { return 45.0 * n / q; }

TEST(InverseTable, ThePolesMapToTheCentresOfTheTopAndBottomFaces) {
  const int q = 32;
  const TmxCurrencyUV t = BuildTable(q);
  EXPECT_EQ(t.Get(0, 0), (TCurrencyUV{0, Currency::FromRaw(0), 0, Currency::FromRaw(0)}));
  const TCurrencyUV last = t.Get(2 * q - 1, 0);
  EXPECT_EQ(last.U, 2 * q - 2);
  EXPECT_EQ(last.UFrac.raw, 10000);
  EXPECT_EQ(Row(last), 0);
  // The whole first row shows the top face's centre: the left half takes
  // column 0 of the strip, the right half column 2q − 1 (the same centre in
  // the next band copy); the last row likewise the bottom face's centre.
  for (int j = 0; j < 2 * q; ++j) {
    const std::int64_t centre = j < q ? 0 : std::int64_t{2 * q - 1} * 10000;
    EXPECT_EQ(Column(t.Get(j, 0)), centre) << j;
    EXPECT_EQ(Row(t.Get(j, 0)), 0) << j;
    EXPECT_EQ(Column(t.Get(j, 4 * q - 1)), centre) << j;
    EXPECT_EQ(Row(t.Get(j, 4 * q - 1)), std::int64_t{4 * q - 1} * 10000) << j;
  }
}

TEST(InverseTable, EveryEntryAndItsLowerRightNeighbourLieInsideTheStrip) {
  for (const int q : {12, 32, 64}) {
    const TmxCurrencyUV t = BuildTable(q);
    for (int i = 0; i < 4 * q; ++i) {
      for (int j = 0; j < 2 * q; ++j) {
        const TCurrencyUV e = t.Get(j, i);
        ASSERT_GE(e.U, 0) << q << " " << j << "," << i;
        ASSERT_LE(e.U, 2 * q - 2) << q << " " << j << "," << i;
        ASSERT_GE(e.V, 0) << q << " " << j << "," << i;
        ASSERT_LE(e.V, 4 * q - 2) << q << " " << j << "," << i;
        ASSERT_GE(e.UFrac.raw, 0);
        ASSERT_LE(e.UFrac.raw, 10000);
        ASSERT_GE(e.VFrac.raw, 0);
        ASSERT_LE(e.VFrac.raw, 10000);
      }
    }
  }
}

TEST(InverseTable, IsSymmetricAboutTheCentreColumnAndTheHorizon) {
  const int q = 32;
  const TmxCurrencyUV t = BuildTable(q);
  for (int i = 0; i < 4 * q; ++i) {
    for (int j = 0; j < 2 * q; ++j) {
      const TCurrencyUV e = t.Get(j, i);
      const TCurrencyUV across = t.Get(2 * q - 1 - j, i);
      const TCurrencyUV below = t.Get(j, 4 * q - 1 - i);
      ASSERT_EQ(Row(e), Row(across)) << j << "," << i;
      ASSERT_EQ(Column(e) + Column(across), std::int64_t{2 * q - 1} * 10000) << j << "," << i;
      ASSERT_EQ(e.U, below.U) << j << "," << i;
      ASSERT_EQ(e.UFrac, below.UFrac) << j << "," << i;
      ASSERT_EQ(Row(e) + Row(below), std::int64_t{4 * q - 1} * 10000) << j << "," << i;
    }
  }
}

// Reads an upper-left entry back as a direction: a source row below the band
// edge is a point of side face P (q away from the eye), one above it a point
// of the top face (q above the eye, row 0 its centre). Its azimuth from P's
// centre line and its angle from straight up must be those of the output
// pixel, which is also what decides between the two faces.
TEST(InverseTable, EachEntryLooksInTheDirectionOfItsPanoramaPixel) {
  const int q = 64;
  const TmxCurrencyUV t = BuildTable(q);
  const double tolerance = 0.01;  // degrees; the stored fractions are 1e-4 px
  for (int i = 1; i < 2 * q; ++i) {
    for (int j = 0; j < q; ++j) {
      const TCurrencyUV e = t.Get(j, i);
      const double c = Column(e) / 10000.0;
      const double v = Row(e) / 10000.0;
      double azimuth, polar;
      if (v >= q) {
        azimuth = std::atan2(c, q);
        polar = std::atan2(std::hypot(c, q), 2 * q - v);
      } else {
        azimuth = std::atan2(c, v);
        polar = std::atan2(std::hypot(c, v), q);
      }
      ASSERT_NEAR(azimuth * 180 / kPi, Degrees(j, q), tolerance) << j << "," << i;
      ASSERT_NEAR(polar * 180 / kPi, Degrees(i, q), tolerance) << j << "," << i;
    }
  }
}

TEST(InverseTable, TheTopFaceReachesDownToTanThetaRootTwoNearTheStripCentre) {
  const int q = 64;
  const TmxCurrencyUV t = BuildTable(q);
  // Beside the side face's centre line the top face ends at 45 degrees: only
  // the boundary row q itself may read either face.
  for (int i = q + 1; i < 2 * q; ++i) EXPECT_GE(t.Get(0, i).V, q) << i;
  // Next to the strip's centre column the side-face row falls above the band
  // edge down to tan θ = 1 / cos λ (≈ √2, 54.7 degrees): those directions
  // take the top face, those below take face P.
  const int j = q - 1;
  const double limit = 1.0 / std::cos(Degrees(j, q) * kPi / 180);
  int lastTopRow = -1;
  for (int i = q; i < 2 * q; ++i) {
    const double tanTheta = std::tan(Degrees(i, q) * kPi / 180);
    if (std::abs(tanTheta - limit) < 1e-9) continue;
    const bool onTop = t.Get(j, i).V < q;
    EXPECT_EQ(onTop, tanTheta < limit) << i;
    if (onTop) lastTopRow = i;
  }
  EXPECT_NEAR(Degrees(lastTopRow, q), std::atan(std::sqrt(2.0)) * 180 / kPi, 45.0 / q + 0.1);
}

TEST(InverseTable, DoesNotDependOnTheThreadCount) {
  const int q = 48;
  const TmxCurrencyUV one = BuildTable(q, 1);
  const TmxCurrencyUV three = BuildTable(q, 3);
  for (int i = 0; i < 4 * q; ++i) {
    for (int j = 0; j < 2 * q; ++j) ASSERT_EQ(one.Get(j, i), three.Get(j, i)) << j << "," << i;
  }
}

TEST(InverseTable, ReportsOneLineEndingInSixteenDots) {
  TPanoFiler filer;
  std::string line;
  int appends = 0;
  filer.OnProgress = [&](TSimFiler* sender, const std::string& s, TSimProgressMode mode) {
    EXPECT_EQ(sender, &filer);
    if (mode == spAppend) {
      ++appends;
      line.clear();
    }
    line += s;
  };
  TmxCurrencyUV table;
  table.SetSizeMirrored(24, 48);
  filer.BuildMappingTable(12, table);
  EXPECT_EQ(appends, 1);
  EXPECT_EQ(line, "座標を取得しています。................");
}

}  // namespace
}  // namespace skyfold
