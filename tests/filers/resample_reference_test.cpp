// The strip resampler against the blend written out plainly, on random
// strips and random tables: every neighbour position (including the clamped
// last column and row), every weight from 0 to 10000, exact ties, weights
// outside 0 … 1, entries without a source, both direct formats, and the
// panorama read in place by WarpImage.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "filers/SimFilers.h"
#include "filers/StripBlend.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

// round((upper · gv + lower · fv) / 10^8), halves to even, capped to 0 … 255.
std::uint8_t ReferenceLevel(int p00, int p01, int p10, int p11, int fu, int fv) {
  const long long gu = 10000 - fu, gv = 10000 - fv;
  const long long upper = p00 * gu + p01 * fu;
  const long long lower = p10 * gu + p11 * fu;
  const long long n = upper * gv + lower * fv;
  if (n <= 0) return 0;
  long long q = n / 100000000, r = n % 100000000;
  if (r > 50000000 || (r == 50000000 && q % 2 == 1)) ++q;
  return static_cast<std::uint8_t>(q > 255 ? 255 : q);
}

Bitmap RandomBitmap(int w, int h, PixelFormat format, std::mt19937& rng) {
  Bitmap b(w, h, format);
  std::uniform_int_distribution<int> level(0, 255);
  for (std::size_t i = 0; i < b.byteSize(); ++i) {
    // Few distinct levels make exact ties between neighbours frequent.
    b.data()[i] = static_cast<std::uint8_t>(rng() % 4 == 0 ? level(rng) : 100 + 2 * (rng() % 3));
  }
  return b;
}

// One entry in `specialOneIn` is special: no source, a clamped neighbour or a
// weight outside 0 … 1; the rest are ordinary.
TmxCurrencyUV RandomTable(int w, int h, std::mt19937& rng, unsigned specialOneIn = 16) {
  TmxCurrencyUV t;
  t.SetSize(w, h);
  std::uniform_int_distribution<int> column(0, w - 1), row(0, h - 1), frac(0, 10000);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      PackedUV& e = t.Row(y)[x];
      const unsigned kind = rng() % specialOneIn;
      if (kind == 0) {
        e = PackedUV{-1, -10000, -1, -10000};
        continue;
      }
      e.U = static_cast<std::int16_t>(kind == 1 ? w - 1 : column(rng));
      e.V = static_cast<std::int16_t>(kind == 2 ? h - 1 : row(rng));
      // Halves, whole weights and plain random weights.
      const int pick = static_cast<int>(rng() % 4);
      e.UFrac = static_cast<std::int16_t>(pick == 0   ? 5000
                                          : pick == 1 ? 10000 * (rng() % 2)
                                                      : frac(rng));
      e.VFrac = static_cast<std::int16_t>(rng() % 3 == 0 ? 5000 : frac(rng));
      if (kind == 3) e.UFrac = static_cast<std::int16_t>(20000 - frac(rng));  // beyond 1
      if (kind == 4) e.VFrac = static_cast<std::int16_t>(-frac(rng));         // below 0
    }
  }
  return t;
}

// Checks every pixel of dest against the plain blend of source through the
// table; pixels without a source must still hold `untouched`'s bytes.
void ExpectBlend(const Bitmap& dest, const Bitmap& source, const TmxCurrencyUV& table,
                 const Bitmap& untouched) {
  const int w = source.width(), h = source.height(), bpp = source.bytesPerPixel();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const PackedUV e = table.Row(y)[x];
      const std::uint8_t* d = dest.row(y) + x * bpp;
      if (e.U < 0) {
        const std::uint8_t* u = untouched.row(y) + x * bpp;
        ASSERT_TRUE(std::equal(d, d + bpp, u)) << x << "," << y;
        continue;
      }
      const int c0 = e.U, c1 = std::min(c0 + 1, w - 1);
      const int r0 = e.V, r1 = std::min(r0 + 1, h - 1);
      for (int ch = 0; ch < 3; ++ch) {
        auto p = [&](int r, int c) { return source.row(r)[c * bpp + ch]; };
        ASSERT_EQ(d[ch],
                  ReferenceLevel(p(r0, c0), p(r0, c1), p(r1, c0), p(r1, c1), e.UFrac, e.VFrac))
            << x << "," << y << " channel " << ch;
      }
      if (bpp == 4) {
        ASSERT_EQ(d[3], untouched.row(y)[x * 4 + 3]) << "fourth byte kept";
      }
    }
  }
}

// Both forms of the blend (the vector one where this CPU has it) must give
// the definition's bytes.
class BlendForms : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseVectorBlend(GetParam()); }
  void TearDown() override { UseVectorBlend(true); }
};

INSTANTIATE_TEST_SUITE_P(Vector, BlendForms, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Vector" : "Plain"; });

TEST_P(BlendForms, EveryPixelIsThePlainBlendInBothDirectFormats) {
  std::mt19937 rng(20261208);
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    for (const auto& [w, h] : {std::pair{37, 41}, std::pair{3, 80}, std::pair{1, 5}}) {
      const Bitmap source = RandomBitmap(w, h, format, rng);
      const TmxCurrencyUV table = RandomTable(w, h, rng);
      Bitmap dest = RandomBitmap(w, h, format, rng);
      const Bitmap before = dest.clone();
      TSimFiler filer;
      filer.ResampleStrip(dest, source, table);
      ExpectBlend(dest, source, table, before);
    }
  }
}

// Long runs of ordinary entries, as real tables have, next to the odd
// special one: the blend goes through its fast paths here.
TEST_P(BlendForms, MostlyOrdinaryEntriesGiveThePlainBlend) {
  std::mt19937 rng(42);
  for (const auto& [w, h] : {std::pair{203, 61}, std::pair{64, 64}, std::pair{6, 9}}) {
    const Bitmap source = RandomBitmap(w, h, PixelFormat::Bgr24, rng);
    const TmxCurrencyUV table = RandomTable(w, h, rng, 200);
    Bitmap dest = RandomBitmap(w, h, PixelFormat::Bgr24, rng);
    const Bitmap before = dest.clone();
    TSimFiler filer;
    filer.ResampleStrip(dest, source, table);
    ExpectBlend(dest, source, table, before);
  }
}

// WarpImage reads each strip straight out of the panorama: the result must
// equal resampling copies of the strips, whatever the thread count.
TEST(ResampleReference, WarpEqualsResamplingCopiedStripsForAnyThreadCount) {
  std::mt19937 rng(7);
  const int w = 160, h = 80, q4 = w / 4;
  const Bitmap original = RandomBitmap(w, h, PixelFormat::Bgr24, rng);
  TSimFiler filer;
  TmxCurrencyUV table;
  table.SetSizeMirrored(q4, h);
  filer.BuildMappingTable(q4 / 2, table);
  Bitmap expected(w, h);
  Bitmap b(q4, h);
  for (int k = 0; k < 4; ++k) {
    Bitmap a(q4, h);
    for (int y = 0; y < h; ++y) {
      std::copy_n(original.row(y) + k * q4 * 3, q4 * 3, a.row(y));
    }
    filer.ResampleStrip(b, a, table);
    for (int y = 0; y < h; ++y) std::copy_n(b.row(y), q4 * 3, expected.row(y) + k * q4 * 3);
  }
  for (int threads : {1, 2, 3}) {
    const test::ScopedRun run(filer, threads);
    Bitmap pano = original.clone();
    filer.WarpImage(pano);
    EXPECT_TRUE(std::equal(pano.data(), pano.data() + pano.byteSize(), expected.data()))
        << threads << " threads";
  }
}

}  // namespace
}  // namespace skyfold
