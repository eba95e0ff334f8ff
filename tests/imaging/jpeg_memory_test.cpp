// Encoding JPEG into memory: the very bytes SaveBitmapAsJpeg writes to a
// file, for every pixel format it accepts, and a picture that decodes back.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/JpegIO.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

Bitmap Noise(int w, int h, PixelFormat format, std::mt19937& rng) {
  Bitmap b(w, h, format);
  if (IsIndexed(format)) {
    std::vector<PaletteEntry> palette(16);
    for (auto& c : palette) c = {static_cast<std::uint8_t>(rng()), 128, 7};
    b.setPalette(palette);
  }
  for (std::size_t i = 0; i < b.byteSize(); ++i) {
    b.data()[i] = static_cast<std::uint8_t>(IsIndexed(format) ? rng() % 16 : rng());
  }
  return b;
}

TEST(JpegMemory, SameBytesAsTheFileForEveryFormat) {
  test::TempDir dir;
  std::mt19937 rng(1);
  // Sizes beyond one call's worth of rows and not multiples of the blocks.
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgrx32, PixelFormat::Indexed8}) {
    const Bitmap picture = Noise(97, 75, format, rng);
    const std::string file = dir.file("face.jpg");
    SaveBitmapAsJpeg(file, picture, 100);
    const std::vector<char> written = test::ReadBytes(file);
    const std::vector<std::uint8_t> encoded = EncodeJpeg(picture, 100);
    ASSERT_EQ(encoded.size(), written.size()) << static_cast<int>(format);
    EXPECT_TRUE(std::equal(encoded.begin(), encoded.end(),
                           reinterpret_cast<const std::uint8_t*>(written.data())));

    Bitmap back;
    DecodeJpeg(encoded.data(), encoded.size(), back);
    EXPECT_EQ(back.width(), 97);
    EXPECT_EQ(back.height(), 75);
  }
}

}  // namespace
}  // namespace skyfold
