// The 24-bit fast paths of the raster operations against their plain
// definitions on random pictures: transparent drawing at clipped and
// negative positions, and bitmaps created without the white fill once they
// are written whole by a rotation or a stretch.
#include <gtest/gtest.h>

#include <random>

#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {
namespace {

Bitmap RandomPicture(int w, int h, std::mt19937& rng) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const unsigned kind = rng() % 4;
      if (kind == 0) continue;  // pure white: transparent
      // Near-white pixels (one channel below 255) are drawn.
      p[0] = static_cast<std::uint8_t>(kind == 1 ? 254 : rng());
      p[1] = static_cast<std::uint8_t>(kind == 1 ? 255 : rng());
      p[2] = static_cast<std::uint8_t>(kind == 1 ? 255 : rng());
    }
  }
  return b;
}

TEST(RasterFastPath, TransparentDrawingMatchesThePixelDefinition) {
  std::mt19937 rng(3);
  const Bitmap src = RandomPicture(13, 9, rng);
  const std::pair<int, int> places[] = {{0, 0}, {5, 4}, {-4, -3}, {10, 12}, {-20, 0}, {15, 0}};
  for (const auto& [x, y] : places) {
    Bitmap dst = RandomPicture(16, 14, rng);
    Bitmap expected = dst.clone();
    for (int sy = 0; sy < src.height(); ++sy) {
      for (int sx = 0; sx < src.width(); ++sx) {
        const int dx = x + sx, dy = y + sy;
        if (dx < 0 || dy < 0 || dx >= dst.width() || dy >= dst.height()) continue;
        const PaletteEntry c = src.pixel(sx, sy);
        if (c == PaletteEntry{255, 255, 255}) continue;
        std::uint8_t* d = expected.row(dy) + dx * 3;
        d[0] = c.b, d[1] = c.g, d[2] = c.r;
      }
    }
    DrawTransparent(dst, x, y, src);
    EXPECT_TRUE(std::equal(dst.data(), dst.data() + dst.byteSize(), expected.data()))
        << "at " << x << "," << y;
  }
}

TEST(RasterFastPath, UnfilledBitmapsHaveTheirSizeAndFormat) {
  const Bitmap b(7, 5, PixelFormat::Bgrx32, Uninitialised{});
  EXPECT_EQ(b.width(), 7);
  EXPECT_EQ(b.height(), 5);
  EXPECT_EQ(b.format(), PixelFormat::Bgrx32);
  EXPECT_EQ(b.byteSize(), 7u * 5u * 4u);
  EXPECT_THROW(Bitmap(kMaxBitmapSide + 1, 1, PixelFormat::Bgr24, Uninitialised{}), std::exception);
}

TEST(RasterFastPath, QuarterTurnsWriteEveryPixelOfTheirUnfilledTarget) {
  std::mt19937 rng(11);
  // Odd sizes across the rotation's tile borders; compare with the
  // definition pixel by pixel, so an unwritten pixel would show.
  const Bitmap src = RandomPicture(131, 67, rng);
  Bitmap cw = src.clone();
  RotateBitmap90(cw, rdClockwise);
  Bitmap ccw = src.clone();
  RotateBitmap90(ccw, rdCounterClockwise);
  Bitmap half = src.clone();
  RotateBitmap180(half);
  const int w = src.width(), h = src.height();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(cw.pixel(h - 1 - y, x), src.pixel(x, y));
      ASSERT_EQ(ccw.pixel(y, w - 1 - x), src.pixel(x, y));
      ASSERT_EQ(half.pixel(w - 1 - x, h - 1 - y), src.pixel(x, y));
    }
  }
}

}  // namespace
}  // namespace skyfold
