// The raster behaviour every conversion relies on: white new bitmaps,
// resizing that keeps the shared area, exact copies, nearest-neighbour
// stretches, white-keyed transparent drawing and palette expansion.
#include <gtest/gtest.h>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/Raster.h"

namespace skyfold {
namespace {

void Put(Bitmap& b, int x, int y, PaletteEntry c) {
  std::uint8_t* p = b.row(y) + x * b.bytesPerPixel();
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

// Pixel (x, y) gets a colour unique to its position.
Bitmap Numbered(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      Put(b, x, y, {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7});
  return b;
}

constexpr PaletteEntry kWhite{255, 255, 255};

TEST(Bitmap, NewBitmapIsWhiteInEveryFormat) {
  for (PixelFormat f : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    Bitmap b(5, 3, f);
    for (std::size_t i = 0; i < b.byteSize(); ++i) ASSERT_EQ(b.data()[i], 255);
  }
  EXPECT_TRUE(Bitmap().empty());
}

TEST(Bitmap, ResizingKeepsTheSharedAreaAndFillsTheRestWhite) {
  Bitmap b = Numbered(4, 3);
  b.setSize(6, 2);
  ASSERT_EQ(b.width(), 6);
  ASSERT_EQ(b.height(), 2);
  EXPECT_EQ(b.pixel(3, 1), (PaletteEntry{3, 1, 7}));
  EXPECT_EQ(b.pixel(4, 0), kWhite);
  EXPECT_EQ(b.pixel(5, 1), kWhite);
  b.setSize(2, 4);
  EXPECT_EQ(b.pixel(1, 1), (PaletteEntry{1, 1, 7}));
  EXPECT_EQ(b.pixel(0, 3), kWhite);
}

TEST(Bitmap, ResizingToTheCurrentSizeChangesNothing) {
  Bitmap b = Numbered(4, 3);
  const std::uint8_t* before = b.data();
  b.setSize(4, 3);
  EXPECT_EQ(b.data(), before);
  EXPECT_EQ(b.pixel(3, 2), (PaletteEntry{3, 2, 7}));
}

TEST(Bitmap, AbsurdSizesAreRefusedBeforeAllocation) {
  EXPECT_THROW(Bitmap(1 << 20, 1 << 20), MemoryError);
  EXPECT_THROW(Bitmap(-1, 5), MemoryError);
  EXPECT_FALSE(BitmapSizeAllowed(std::int64_t{1} << 40, 1, PixelFormat::Bgr24));
  EXPECT_TRUE(BitmapSizeAllowed(16384, 8192, PixelFormat::Bgr24));
}

TEST(Raster, RectangleCopiesAreExactAndClipped) {
  Bitmap src = Numbered(8, 8);
  Bitmap dst(4, 4);
  CopyRect(dst, 1, 1, src, 5, 6, 10, 10);  // only 3 × 2 fit
  EXPECT_EQ(dst.pixel(1, 1), (PaletteEntry{5, 6, 7}));
  EXPECT_EQ(dst.pixel(3, 2), (PaletteEntry{7, 7, 7}));
  EXPECT_EQ(dst.pixel(0, 0), kWhite);
  EXPECT_EQ(dst.pixel(1, 3), kWhite);
}

TEST(Raster, StretchIsNearestNeighbourWithoutAveraging) {
  Bitmap src = Numbered(2, 2);
  Bitmap dst(4, 4);
  StretchDraw(dst, Rect{0, 0, 4, 4}, src);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(dst.pixel(x, y), (PaletteEntry{static_cast<std::uint8_t>(x / 2),
                                               static_cast<std::uint8_t>(y / 2), 7}));
  Bitmap small(3, 1);
  Bitmap wide = Numbered(9, 1);
  StretchDraw(small, Rect{0, 0, 3, 1}, wide);
  EXPECT_EQ(small.pixel(1, 0).b, 3);  // a source pixel, not a mean
}

TEST(Raster, TransparentDrawingSkipsPureWhiteOnly) {
  Bitmap piece(2, 1);
  Put(piece, 1, 0, {254, 255, 255});
  Bitmap dst(2, 1);
  Put(dst, 0, 0, {1, 2, 3});
  Put(dst, 1, 0, {1, 2, 3});
  DrawTransparent(dst, 0, 0, piece);
  EXPECT_EQ(dst.pixel(0, 0), (PaletteEntry{1, 2, 3}));
  EXPECT_EQ(dst.pixel(1, 0), (PaletteEntry{254, 255, 255}));
}

TEST(Raster, PaletteBitmapsExpandWhenDrawnInto24Bits) {
  Bitmap grey(2, 1, PixelFormat::Indexed8);
  grey.setPalette({{0, 0, 0}, {128, 128, 128}});
  grey.row(0)[0] = 1;
  grey.row(0)[1] = 0;
  Bitmap dst(2, 1);
  CopyRect(dst, 0, 0, grey, 0, 0, 2, 1);
  EXPECT_EQ(dst.pixel(0, 0), (PaletteEntry{128, 128, 128}));
  EXPECT_EQ(dst.pixel(1, 0), (PaletteEntry{0, 0, 0}));
  ConvertToBgr24(grey);
  EXPECT_EQ(grey.format(), PixelFormat::Bgr24);
  EXPECT_EQ(grey.pixel(0, 0), (PaletteEntry{128, 128, 128}));
}

TEST(Raster, DrawingIntoAPaletteTakesTheNearestEntry) {
  Bitmap pal(1, 1, PixelFormat::Indexed8);
  pal.setPalette({{0, 0, 0}, {200, 200, 200}});
  Bitmap src(1, 1);
  Put(src, 0, 0, {190, 210, 180});
  CopyRect(pal, 0, 0, src, 0, 0, 1, 1);
  EXPECT_EQ(pal.row(0)[0], 1);
}

}  // namespace
}  // namespace skyfold
