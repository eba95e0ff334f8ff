// The strip resampler and the warp: the blend's single rounding, clamping,
// pixels without a source, progress dots, and results independent of the
// thread count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filers/SimFilers.h"
#include "support/PanoramaTestImages.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

using test::SetPixel;

// A table of the given size whose every entry has no source.
TmxCurrencyUV EmptyTable(int columns, int rows) {
  TmxCurrencyUV t;
  t.SetSize(columns, rows);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) t.Set(x, y, TCurrencyUV{});
  }
  return t;
}

void SetEntry(TmxCurrencyUV& t, int x, int y, int u, int uFrac, int v, int vFrac) {
  t.Set(x, y, TCurrencyUV{u, Currency::FromRaw(uFrac), v, Currency::FromRaw(vFrac)});
}

// Resamples a 2 × 2 source of grey levels (p00, p01 / p10, p11) at one
// position and returns the blue channel of the result.
int BlendOne(int p00, int p01, int p10, int p11, int uFrac, int vFrac) {
  Bitmap src(2, 2);
  auto grey = [&](int x, int y, int level) {
    const auto l = static_cast<std::uint8_t>(level);
    SetPixel(src, x, y, l, l, l);
  };
  grey(0, 0, p00);
  grey(1, 0, p01);
  grey(0, 1, p10);
  grey(1, 1, p11);
  TmxCurrencyUV t = EmptyTable(2, 2);
  SetEntry(t, 0, 0, 0, uFrac, 0, vFrac);
  TSimFiler filer;
  Bitmap dest;
  filer.ResampleStrip(dest, src, t);
  return dest.pixel(0, 0).b;
}

TEST(ResampleStrip, OnlyTheFinalDivisionRounds) {
  // upper = 1.6 and lower = 0.6 levels; halfway between them is 1.1 → 1.
  // Rounding upper and lower first would give (2 + 1) / 2 → 2.
  EXPECT_EQ(BlendOne(1, 3, 0, 2, 3000, 5000), 1);
  // Ties go to the even level.
  EXPECT_EQ(BlendOne(2, 3, 2, 3, 5000, 0), 2);
  EXPECT_EQ(BlendOne(3, 4, 3, 4, 5000, 0), 4);
  EXPECT_EQ(BlendOne(10, 10, 11, 11, 0, 5000), 10);
  EXPECT_EQ(BlendOne(11, 11, 12, 12, 0, 5000), 12);
  // Just over a half rounds up, just under rounds down.
  EXPECT_EQ(BlendOne(0, 1, 0, 1, 5001, 0), 1);
  EXPECT_EQ(BlendOne(0, 1, 0, 1, 4999, 0), 0);
  // Full weights select one neighbour exactly.
  EXPECT_EQ(BlendOne(7, 200, 90, 255, 10000, 10000), 255);
  EXPECT_EQ(BlendOne(7, 200, 90, 255, 0, 10000), 90);
}

TEST(ResampleStrip, ChannelsBeyondFullLevelAreCapped) {
  // Weights outside 0 … 1 (a table from elsewhere) push the blend past 255.
  EXPECT_EQ(BlendOne(0, 255, 0, 255, 20000, 0), 255);
}

TEST(ResampleStrip, NeighboursStayInsideTheStrip) {
  Bitmap src(3, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) SetPixel(src, x, y, 10 * x, 100 + 10 * y, 50);
  }
  TmxCurrencyUV t = EmptyTable(3, 3);
  SetEntry(t, 0, 0, 2, 5000, 2, 5000);  // last column and row: nothing beyond
  SetEntry(t, 1, 0, 2, 5000, 0, 0);
  SetEntry(t, 2, 0, 0, 0, 2, 5000);
  TSimFiler filer;
  Bitmap dest;
  filer.ResampleStrip(dest, src, t);
  EXPECT_EQ(dest.pixel(0, 0), (PaletteEntry{20, 120, 50}));
  EXPECT_EQ(dest.pixel(1, 0), (PaletteEntry{20, 100, 50}));
  EXPECT_EQ(dest.pixel(2, 0), (PaletteEntry{0, 120, 50}));
}

TEST(ResampleStrip, PixelsWithoutSourceKeepWhatTheDestinationHeld) {
  Bitmap src(4, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) SetPixel(src, x, y, 1, 2, 3);
  }
  TmxCurrencyUV t = EmptyTable(4, 4);
  SetEntry(t, 1, 1, 0, 0, 0, 0);
  TSimFiler filer;

  // A destination of the same size and format keeps its pixels.
  Bitmap dest(4, 4);
  SetPixel(dest, 2, 2, 40, 50, 60);
  filer.ResampleStrip(dest, src, t);
  EXPECT_EQ(dest.pixel(2, 2), (PaletteEntry{40, 50, 60}));
  EXPECT_EQ(dest.pixel(1, 1), (PaletteEntry{1, 2, 3}));
  EXPECT_TRUE(test::IsPureWhite(dest.pixel(0, 0)));

  // Any other destination becomes the source's size and format, white.
  Bitmap other(2, 9, PixelFormat::Bgrx32);
  filer.ResampleStrip(other, src, t);
  EXPECT_EQ(other.width(), 4);
  EXPECT_EQ(other.height(), 4);
  EXPECT_EQ(other.format(), PixelFormat::Bgr24);
  EXPECT_TRUE(test::IsPureWhite(other.pixel(3, 3)));
  EXPECT_EQ(other.pixel(1, 1), (PaletteEntry{1, 2, 3}));
}

TEST(ResampleStrip, ThirtyTwoBitSourcesBlendTheirColourChannels) {
  Bitmap src(2, 1, PixelFormat::Bgrx32);
  std::uint8_t* p = src.row(0);
  const std::uint8_t bytes[8] = {0, 100, 200, 7, 100, 200, 0, 9};
  std::copy(bytes, bytes + 8, p);
  TmxCurrencyUV t = EmptyTable(2, 1);
  SetEntry(t, 0, 0, 0, 2500, 0, 0);
  TSimFiler filer;
  Bitmap dest;
  filer.ResampleStrip(dest, src, t);
  ASSERT_EQ(dest.format(), PixelFormat::Bgrx32);
  EXPECT_EQ(dest.pixel(0, 0), (PaletteEntry{25, 125, 150}));
}

TEST(ResampleStrip, ATableSmallerThanTheStripIsRefused) {
  Bitmap src(8, 8);
  TmxCurrencyUV t = EmptyTable(4, 8);
  TSimFiler filer;
  Bitmap dest;
  EXPECT_THROW(filer.ResampleStrip(dest, src, t), std::exception);
}

std::string Dots(const Bitmap& src) {
  TmxCurrencyUV t = EmptyTable(src.width(), src.height());
  TSimFiler filer;
  std::string line;
  filer.OnProgress = [&](TSimFiler*, const std::string& s, TSimProgressMode mode) {
    line += (mode == spAppend ? "|" : "") + s;
  };
  Bitmap dest;
  filer.ResampleStrip(dest, src, t);
  return line;
}

TEST(ResampleStrip, OneLineOfAboutFortyDotsPerStrip) {
  // A new line with one dot, then a dot before every row y with
  // y mod (height / 40) = 0.
  EXPECT_EQ(Dots(Bitmap(4, 80)), "|." + std::string(40, '.'));
  EXPECT_EQ(Dots(Bitmap(4, 100)), "|." + std::string(50, '.'));
  EXPECT_EQ(Dots(Bitmap(4, 4096)), "|." + std::string(41, '.'));
  // Strips under 40 rows get a dot per row instead of failing.
  EXPECT_EQ(Dots(Bitmap(4, 16)), "|." + std::string(16, '.'));
}

TEST(WarpImage, ProgressLinesInOrder) {
  TSimFiler filer;
  std::vector<std::string> lines;
  filer.OnProgress = [&](TSimFiler*, const std::string& s, TSimProgressMode mode) {
    if (mode == spAppend || lines.empty()) {
      lines.push_back(s);
    } else {
      lines.back() += s;
    }
  };
  Bitmap pano = test::DrawTexturedPanorama(96);
  filer.WarpImage(pano);
  const std::string strip = "." + std::string(48, '.');  // 48 rows: step 1
  const std::vector<std::string> expected{
      "座標を取得しています。................", "処理中 ", strip, strip, strip, strip};
  EXPECT_EQ(lines, expected);
}

TEST(WarpImage, PixelsWithoutSourceArePureWhiteAndOnlyThey) {
  TSimFiler filer;
  const int q = 16;
  Bitmap pano = test::DrawTexturedPanorama(8 * q);
  filer.WarpImage(pano);
  for (int y = 0; y < 4 * q; ++y) {
    const int band = y < 2 * q ? y : 4 * q - 1 - y;
    for (int x = 0; x < 8 * q; ++x) {
      const int local = x % (2 * q);
      const bool none = band <= q - 2 && local >= band + 1 && local <= 2 * q - 2 - band;
      ASSERT_EQ(test::IsPureWhite(pano.pixel(x, y)), none) << x << "," << y;
    }
  }
}

TEST(WarpImage, SameBytesForAnyThreadCount) {
  TSimFiler filer;
  std::vector<std::string> progress[2];
  Bitmap result[2];
  const int counts[2] = {1, 3};
  for (int i = 0; i < 2; ++i) {
    const test::ScopedRun run(filer, counts[i]);
    filer.OnProgress = [&, i](TSimFiler*, const std::string& s, TSimProgressMode mode) {
      progress[i].push_back(std::to_string(mode) + s);
    };
    result[i] = test::DrawTexturedPanorama(512);
    filer.WarpImage(result[i]);
  }
  EXPECT_EQ(progress[0], progress[1]);
  ASSERT_EQ(result[0].byteSize(), result[1].byteSize());
  EXPECT_TRUE(
      std::equal(result[0].data(), result[0].data() + result[0].byteSize(), result[1].data()));
}

}  // namespace
}  // namespace skyfold
