// The polar face assembly against its step-by-step form: copy each quarter
// of the strip into a piece, draw it with white transparent at the face's
// lower (top face) or upper (bottom face) half, turn the whole face a quarter
// after each of the first three pieces. The assembly draws every piece
// straight at its final place instead; the pixels must be the same, also
// over a face that already holds a picture, for strips in other formats and
// for any thread count.
#include <gtest/gtest.h>

#include <random>

#include "filers/SimFilers.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

void StepByStep(Bitmap& face, const Bitmap& strip, int which) {
  const int q4 = strip.width() / 4;
  const int h = strip.height();
  if (face.format() != PixelFormat::Bgr24) {
    face.reset(q4, q4);
  } else {
    face.setSize(q4, q4);
  }
  Bitmap piece(q4, h);
  for (int p = 0; p < 4; ++p) {
    CopyRect(piece, 0, 0, strip, p * q4, 0, q4, h);
    DrawTransparent(face, 0, which == 0 ? h : 0, piece);
    if (p < 3) RotateBitmap90(face, which == 0 ? rdClockwise : rdCounterClockwise);
  }
}

// Random colours with many pure-white pixels (skipped like "no source").
Bitmap RandomPicture(int w, int h, std::mt19937& rng) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      if (rng() % 3 == 0) continue;  // stays white
      p[0] = static_cast<std::uint8_t>(rng());
      p[1] = static_cast<std::uint8_t>(rng());
      p[2] = static_cast<std::uint8_t>(rng() % 2 ? 255 : rng());
    }
  }
  return b;
}

bool SameBytes(const Bitmap& a, const Bitmap& b) {
  return a.width() == b.width() && a.height() == b.height() && a.format() == b.format() &&
         std::equal(a.data(), a.data() + a.byteSize(), b.data());
}

TEST(PoleAssembly, SameFaceAsTurningAfterEveryPiece) {
  std::mt19937 rng(99);
  // Regular strips (q4 = 2h), a strip higher than half the face (pieces
  // clipped) and one whose width is not a multiple of four.
  const std::pair<int, int> sizes[] = {{64, 8}, {200, 25}, {96, 20}, {130, 16}};
  for (const auto& [w, h] : sizes) {
    const Bitmap strip = RandomPicture(w, h, rng);
    for (int which : {0, 1}) {
      for (int threads : {1, 2, 3}) {
        Bitmap expected;
        StepByStep(expected, strip, which);
        Bitmap face;
        TSimFiler filer;
        const test::ScopedRun run(filer, threads);
        filer.AssemblePoleFace(face, strip, which);
        EXPECT_TRUE(SameBytes(face, expected)) << w << "x" << h << " which " << which;

        // A face that already holds a picture of the right size keeps it
        // underneath, turned like the pieces.
        Bitmap busy = RandomPicture(w / 4, w / 4, rng);
        Bitmap busyExpected = busy.clone();
        StepByStep(busyExpected, strip, which);
        filer.AssemblePoleFace(busy, strip, which);
        EXPECT_TRUE(SameBytes(busy, busyExpected)) << w << "x" << h << " over a picture";
      }
    }
  }
}

TEST(PoleAssembly, StripsInOtherFormatsAreReadAsTwentyFourBits) {
  std::mt19937 rng(5);
  Bitmap strip(48, 6, PixelFormat::Bgrx32);
  for (std::size_t i = 0; i < strip.byteSize(); ++i) {
    strip.data()[i] = static_cast<std::uint8_t>(rng() % 4 == 0 ? 255 : rng());
  }
  for (int which : {0, 1}) {
    Bitmap expected;
    StepByStep(expected, strip, which);
    Bitmap face(3, 3, PixelFormat::Bgrx32);  // replaced by a 24-bit face
    TSimFiler filer;
    filer.AssemblePoleFace(face, strip, which);
    EXPECT_TRUE(SameBytes(face, expected)) << which;
  }
}

}  // namespace
}  // namespace skyfold
