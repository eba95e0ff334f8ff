// Quarter and half turns: corners land where the screen shows them, turns
// undo each other, the fourth byte travels with its pixel, and unsupported
// formats are refused without touching the bitmap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {
namespace {

// Each pixel tells its position: B = x, G = y, R = 100, fourth byte x + 10·y.
Bitmap Numbered(int w, int h, PixelFormat format = PixelFormat::Bgr24) {
  Bitmap b(w, h, format);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += b.bytesPerPixel()) {
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = 100;
      if (format == PixelFormat::Bgrx32) p[3] = static_cast<std::uint8_t>(x + 10 * y);
    }
  }
  return b;
}

PaletteEntry At(int x, int y) {
  return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 100};
}

bool SameBytes(const Bitmap& a, const Bitmap& b) {
  return a.width() == b.width() && a.height() == b.height() && a.format() == b.format() &&
         std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

TEST(Rotate, ClockwiseQuarterTurnMovesTheTopEdgeToTheRight) {
  Bitmap b = Numbered(3, 2);
  RotateBitmap90(b, rdClockwise);
  ASSERT_EQ(b.width(), 2);
  ASSERT_EQ(b.height(), 3);
  EXPECT_EQ(b.pixel(1, 0), At(0, 0));  // top-left → top-right
  EXPECT_EQ(b.pixel(1, 2), At(2, 0));  // top-right → bottom-right
  EXPECT_EQ(b.pixel(0, 2), At(2, 1));  // bottom-right → bottom-left
  EXPECT_EQ(b.pixel(0, 0), At(0, 1));  // bottom-left → top-left
  EXPECT_EQ(b.pixel(0, 1), At(1, 1));
}

TEST(Rotate, CounterClockwiseQuarterTurnMovesTheTopEdgeToTheLeft) {
  Bitmap b = Numbered(3, 2);
  RotateBitmap90(b, rdCounterClockwise);
  ASSERT_EQ(b.width(), 2);
  ASSERT_EQ(b.height(), 3);
  EXPECT_EQ(b.pixel(0, 2), At(0, 0));  // top-left → bottom-left
  EXPECT_EQ(b.pixel(0, 0), At(2, 0));  // top-right → top-left
  EXPECT_EQ(b.pixel(1, 2), At(0, 1));
}

TEST(Rotate, HalfTurnSwapsOppositeCorners) {
  Bitmap b = Numbered(3, 2);
  RotateBitmap180(b);
  ASSERT_EQ(b.width(), 3);
  ASSERT_EQ(b.height(), 2);
  EXPECT_EQ(b.pixel(0, 0), At(2, 1));
  EXPECT_EQ(b.pixel(2, 1), At(0, 0));
  EXPECT_EQ(b.pixel(1, 0), At(1, 1));
}

TEST(Rotate, TurnsUndoEachOtherAcrossTileBorders) {
  // 150 × 70 spans several tiles with ragged edges.
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32}) {
    std::mt19937 rng(5);
    Bitmap start(150, 70, format);
    for (std::size_t i = 0; i < start.byteSize(); ++i)
      start.data()[i] = static_cast<std::uint8_t>(rng());

    Bitmap b = start.clone();
    RotateBitmap90(b, rdClockwise);
    RotateBitmap90(b, rdCounterClockwise);
    EXPECT_TRUE(SameBytes(b, start));

    for (int i = 0; i < 4; ++i) RotateBitmap90(b, rdClockwise);
    EXPECT_TRUE(SameBytes(b, start));

    RotateBitmap180(b);
    EXPECT_FALSE(SameBytes(b, start));
    RotateBitmap180(b);
    EXPECT_TRUE(SameBytes(b, start));

    // Two quarter turns make a half turn.
    Bitmap half = start.clone();
    RotateBitmap180(half);
    RotateBitmap90(b, rdCounterClockwise);
    RotateBitmap90(b, rdCounterClockwise);
    EXPECT_TRUE(SameBytes(b, half));
  }
}

TEST(Rotate, OnePixelAndEmptyBitmapsSurviveEveryTurn) {
  Bitmap one = Numbered(1, 1);
  RotateBitmap90(one, rdClockwise);
  RotateBitmap90(one, rdCounterClockwise);
  RotateBitmap180(one);
  EXPECT_EQ(one.pixel(0, 0), At(0, 0));
  Bitmap empty;
  RotateBitmap90(empty, rdClockwise);
  RotateBitmap180(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(Rotate, FourthByteTravelsWithItsPixel) {
  Bitmap b = Numbered(4, 3, PixelFormat::Bgrx32);
  RotateBitmap90(b, rdClockwise);
  ASSERT_EQ(b.format(), PixelFormat::Bgrx32);
  // Source (x, y) lands at (H - 1 - y, x) = (2 - y, x).
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      const std::uint8_t* p = b.row(x) + (2 - y) * 4;
      EXPECT_EQ(p[0], x);
      EXPECT_EQ(p[1], y);
      EXPECT_EQ(p[3], x + 10 * y);
    }
  RotateBitmap180(b);
  EXPECT_EQ(b.row(3)[3], 0);  // source (0, 0): first turn to (2, 0), then to (0, 3)
}

TEST(Rotate, PaletteBitmapsAreRefusedAndLeftAsTheyWere) {
  Bitmap b(3, 2, PixelFormat::Indexed8);
  b.setPalette({{0, 0, 0}, {255, 255, 255}});
  b.row(0)[2] = 1;
  for (auto turn : {+[](Bitmap& x) { RotateBitmap90(x, rdClockwise); },
                    +[](Bitmap& x) { RotateBitmap180(x); }}) {
    try {
      turn(b);
      FAIL() << "no error";
    } catch (const ArgumentError& e) {
      EXPECT_STREQ(e.what(), "PixelFormat is not Available.");
    }
    EXPECT_EQ(b.width(), 3);
    EXPECT_EQ(b.height(), 2);
    EXPECT_EQ(b.format(), PixelFormat::Indexed8);
    EXPECT_EQ(b.row(0)[2], 1);
  }
}

}  // namespace
}  // namespace skyfold
