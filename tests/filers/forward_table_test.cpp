// The forward mapping table: known entries, its symmetry, the "no source"
// triangles, its progress lines, and independence of the thread count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filers/SimFilers.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

TCurrencyUV Entry(int u, int uFrac, int v, int vFrac) {
  return TCurrencyUV{u, Currency::FromRaw(uFrac), v, Currency::FromRaw(vFrac)};
}

TmxCurrencyUV BuildTable(int q, TSimFiler& filer) {
  TmxCurrencyUV table;
  table.SetSizeMirrored(2 * q, 4 * q);
  filer.BuildMappingTable(q, table);
  return table;
}

TEST(ForwardTable, KnownEntriesOfTheTwelvePixelQuarter) {
  TSimFiler filer;
  const TmxCurrencyUV t = BuildTable(12, filer);
  EXPECT_EQ(t.Get(0, 0), Entry(0, 0, 0, 0));
  EXPECT_EQ(t.Get(5, 11), Entry(6, 5184, 12, 527));
  EXPECT_EQ(t.Get(0, 23), Entry(0, 0, 22, 7297));
  EXPECT_EQ(t.Get(0, 24), Entry(0, 0, 24, 2703));
  EXPECT_EQ(t.Get(12, 5).U, -1);
  EXPECT_EQ(t.Get(6, 3), Entry(-1, -10000, -1, -10000));
}

TEST(ForwardTable, NoSourceExactlyBetweenThePolarTriangles) {
  TSimFiler filer;
  const int q = 12;
  const TmxCurrencyUV t = BuildTable(q, filer);
  for (int y = 0; y < 4 * q; ++y) {
    // Mirrored rows of the bottom band behave as their top-band originals.
    const int band = y < 2 * q ? y : 4 * q - 1 - y;
    for (int x = 0; x < 2 * q; ++x) {
      const bool expectNone = band <= q - 2 && x >= band + 1 && x <= 2 * q - 2 - band;
      EXPECT_EQ(t.Get(x, y).U == -1, expectNone) << "x " << x << " y " << y;
    }
  }
}

TEST(ForwardTable, EntriesAreMirrorImagesWithinTheStrip) {
  TSimFiler filer;
  const int q = 20;
  const TmxCurrencyUV t = BuildTable(q, filer);
  for (int y = 0; y < 4 * q; ++y) {
    for (int x = 0; x < 2 * q; ++x) {
      const TCurrencyUV e = t.Get(x, y);
      if (e.U == -1) continue;
      // Positions stay inside the strip and fractions are proper weights.
      ASSERT_GE(e.U, 0);
      ASSERT_LE(e.U, 2 * q - 2);
      ASSERT_GE(e.V, 0);
      ASSERT_LE(e.V, 4 * q - 2);
      ASSERT_GE(e.UFrac.raw, 0);
      ASSERT_LE(e.UFrac.raw, 10000);
      ASSERT_GE(e.VFrac.raw, 0);
      ASSERT_LE(e.VFrac.raw, 10000);
      // The left/right mirror reflects the column position about the
      // strip's centre, the top/bottom mirror the row position.
      const TCurrencyUV m = t.Get(2 * q - 1 - x, y);
      EXPECT_EQ(e.U * 10000 + e.UFrac.raw + m.U * 10000 + m.UFrac.raw, (2 * q - 1) * 10000);
      const TCurrencyUV n = t.Get(x, 4 * q - 1 - y);
      EXPECT_EQ(e.V * 10000 + e.VFrac.raw + n.V * 10000 + n.VFrac.raw, (4 * q - 1) * 10000);
    }
  }
}

TEST(ForwardTable, ReportsFourProgressStepsAfterItsTitle) {
  TSimFiler filer;
  std::vector<std::pair<std::string, TSimProgressMode>> lines;
  filer.OnProgress = [&](TSimFiler* sender, const std::string& s, TSimProgressMode mode) {
    EXPECT_EQ(sender, &filer);
    lines.emplace_back(s, mode);
  };
  BuildTable(4, filer);
  const std::vector<std::pair<std::string, TSimProgressMode>> expected{
      {"座標を取得しています。", spAppend},
      {"....", spUpdate},
      {"....", spUpdate},
      {"....", spUpdate},
      {"....", spUpdate}};
  EXPECT_EQ(lines, expected);
}

TEST(ForwardTable, SameEntriesForAnyThreadCount) {
  TSimFiler filer;
  const int q = 100;
  const TmxCurrencyUV one = [&] {
    const test::ScopedRun run(filer, 1);
    return BuildTable(q, filer);
  }();
  const test::ScopedRun run(filer, 3);
  const TmxCurrencyUV three = BuildTable(q, filer);
  for (int y = 0; y < 4 * q; ++y) {
    for (int x = 0; x < 2 * q; ++x) ASSERT_EQ(one.Get(x, y), three.Get(x, y));
  }
}

TEST(ForwardTable, TooSmallTableIsRefusedBeforeAnyWrite) {
  TSimFiler filer;
  TmxCurrencyUV table;
  table.SetSizeMirrored(8, 8);  // q = 4 needs 8 × 16
  EXPECT_THROW(filer.BuildMappingTable(4, table), std::exception);
  table.SetSize(8, 16);  // only mirrored tables are built
  EXPECT_THROW(filer.BuildMappingTable(4, table), std::exception);
}

}  // namespace
}  // namespace skyfold
