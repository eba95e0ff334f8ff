// A mirrored table stores one quadrant and derives the other three: every
// entry must be the one the builders write into a full table, and the blend
// must read a mirrored table exactly as the full one, in every corner of a
// row (the middle column, short rows, entries without a source).
#include <gtest/gtest.h>

#include <random>

#include "filers/PanoFiler.h"
#include "filers/SimFilers.h"
#include "imaging/Errors.h"
#include "imaging/Parallel.h"

namespace skyfold {
namespace {

void ExpectSameEntries(const TmxCurrencyUV& mirrored, const TmxCurrencyUV& full) {
  ASSERT_EQ(mirrored.Columns(), full.Columns());
  ASSERT_EQ(mirrored.Rows(), full.Rows());
  for (int y = 0; y < full.Rows(); ++y) {
    for (int x = 0; x < full.Columns(); ++x) {
      const PackedUV a = mirrored.Entry(x, y), b = full.Entry(x, y);
      if (b.U < 0) {  // without a source only U and UFrac are defined
        ASSERT_EQ(a.U, b.U) << x << "," << y;
        continue;
      }
      ASSERT_EQ(a.U, b.U) << x << "," << y;
      ASSERT_EQ(a.UFrac, b.UFrac) << x << "," << y;
      ASSERT_EQ(a.V, b.V) << x << "," << y;
      ASSERT_EQ(a.VFrac, b.VFrac) << x << "," << y;
    }
  }
}

template <typename Filer>
void BuildBoth(int q) {
  Filer filer;
  TmxCurrencyUV full, mirrored;
  full.SetSize(2 * q, 4 * q);
  mirrored.SetSizeMirrored(2 * q, 4 * q);
  filer.BuildMappingTable(q, full);
  filer.BuildMappingTable(q, mirrored);
  ExpectSameEntries(mirrored, full);
}

TEST(MirroredTable, BothBuildersGiveTheEntriesOfTheFullTable) {
  for (int q : {1, 5, 16, 37}) {
    BuildBoth<TSimFiler>(q);
    BuildBoth<TPanoFiler>(q);
  }
}

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
TEST(MirroredTable, TheBlendReadsItAsTheFullTable) {
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
      SetThreadCount(threads);
      TSimFiler filer;
      Bitmap a(width, rows), b(width, rows);
      filer.ResampleStrip(a, source, mirrored);
      filer.ResampleStrip(b, source, full);
      EXPECT_TRUE(std::equal(a.data(), a.data() + a.byteSize(), b.data()))
          << columns << " x " << rows << ", strip " << width << ", " << threads << " threads";
    }
    SetThreadCount(0);
  }
}

}  // namespace
}  // namespace skyfold
