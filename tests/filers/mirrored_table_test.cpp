// A mirrored table stores one quadrant and derives the other three: the
// blend must read a mirrored table exactly as the full one, in every corner
// of a row (the middle column, short rows, entries without a source).
#include <gtest/gtest.h>

#include <random>

#include "filers/PanoFiler.h"
#include "filers/SimFilers.h"
#include "filers/StripBlend.h"
#include "imaging/Errors.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

TEST(MirroredTable, OnlyTheStoredQuadrantCanBeSetAndSizesMustBeEven) {
  TmxCurrencyUV t;
  t.SetSizeMirrored(8, 12);
  EXPECT_EQ(t.StoredColumns(), 4);
  EXPECT_EQ(t.StoredRows(), 6);
  EXPECT_NO_THROW(t.Set(3, 5, TCurrencyUV{}));
  EXPECT_THROW(t.Set(4, 0, TCurrencyUV{}), ArgumentError);
  EXPECT_THROW(t.Set(0, 6, TCurrencyUV{}), ArgumentError);
  EXPECT_THROW(t.SetSizeMirrored(7, 12), ArgumentError);
  TSimFiler filer;
  t.SetSizeMirrored(10, 20);  // q = 5 wants 10 × 20; q = 4 must refuse it
  EXPECT_THROW(filer.BuildMappingTable(4, t), ArgumentError);
}

// Random quadrants (ordinary entries, entries without a source, halves and
// whole weights), blended through the mirrored table and through a full
// copy of all its entries.
class MirroredBlend : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseVectorBlend(GetParam()); }
  void TearDown() override { UseVectorBlend(true); }
};

INSTANTIATE_TEST_SUITE_P(Forms, MirroredBlend, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Vector" : "Plain"; });

TEST_P(MirroredBlend, TheBlendReadsItAsTheFullTable) {
  std::mt19937 rng(99);
  for (const auto& [columns, rows, width] :
       {std::tuple{64, 40, 64}, std::tuple{70, 24, 70}, std::tuple{70, 24, 61},
        std::tuple{12, 8, 12}, std::tuple{2, 4, 2}}) {
    TmxCurrencyUV mirrored;
    mirrored.SetSizeMirrored(columns, rows);
    std::uniform_int_distribution<int> u(0, columns - 2), v(0, rows - 2), f(0, 10000);
    for (int y = 0; y < rows / 2; ++y) {
      for (int x = 0; x < columns / 2; ++x) {
        const bool none = rng() % 7 == 0;
        const int uf = rng() % 3 == 0 ? 5000 : f(rng);
        mirrored.Set(x, y,
                     none ? TCurrencyUV{}
                          : TCurrencyUV{u(rng), Currency::FromRaw(uf), v(rng),
                                        Currency::FromRaw(rng() % 2 ? 10000 : f(rng))});
      }
    }
    TmxCurrencyUV full;
    full.SetSize(columns, rows);
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) full.Row(y)[x] = mirrored.Entry(x, y);
    }
    Bitmap source(width, rows);
    for (std::size_t i = 0; i < source.byteSize(); ++i) {
      source.data()[i] = static_cast<std::uint8_t>(rng());
    }
    for (int threads : {1, 2}) {
      TSimFiler filer;
      const test::ScopedRun run(filer, threads);
      Bitmap a(width, rows), b(width, rows);
      filer.ResampleStrip(a, source, mirrored);
      filer.ResampleStrip(b, source, full);
      EXPECT_TRUE(std::equal(a.data(), a.data() + a.byteSize(), b.data()))
          << columns << " x " << rows << ", strip " << width << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace skyfold
