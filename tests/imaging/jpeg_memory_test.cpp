// Encoding JPEG into memory: the very bytes SaveBitmapAsJpeg writes to a
// file, for every pixel format it accepts, and a picture that decodes back;
// and row by row, into memory or straight into the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/JpegResultFile.h"
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

// Rows handed over a few at a time, in uneven bunches, give the bytes of the
// whole picture encoded at once, gathered in memory or written to the file
// as they come (a picture of many output chunks too).
TEST(JpegStream, RowsInBunchesGiveTheBytesOfTheWholePicture) {
  test::TempDir dir;
  std::mt19937 rng(2);
  for (const auto& [w, h] :
       {std::pair{97, 75}, std::pair{16, 16}, std::pair{1, 1}, std::pair{400, 300}}) {
    const Bitmap picture = Noise(w, h, PixelFormat::Bgr24, rng);
    JpegStreamEncoder stream(w, h, 100);
    JpegResultFile file(dir.file("pano.jpg"), w, h, {}, nullptr);
    int y = 0;
    for (int bunch = 1; y < h; bunch = bunch * 3 % 17 + 1) {
      const int count = std::min(bunch, h - y);
      std::vector<const std::uint8_t*> rows;
      for (int i = 0; i < count; ++i) rows.push_back(picture.row(y + i));
      stream.WriteRows(rows.data(), count);
      file.WriteRows(rows.data(), count);
      y += count;
    }
    const std::vector<std::uint8_t> whole = EncodeJpeg(picture, 100);
    EXPECT_EQ(stream.Finish(), whole) << w << " x " << h;
    file.Close();
    const std::vector<char> written = test::ReadBytes(dir.file("pano.jpg"));
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), whole) << w << " x " << h;
  }
}

TEST(JpegStream, RowCountsThatDoNotMatchTheImageAreRefused) {
  const Bitmap picture(8, 4);
  std::vector<const std::uint8_t*> rows(5, picture.row(0));
  {
    JpegStreamEncoder stream(8, 4);
    EXPECT_THROW(stream.WriteRows(rows.data(), 5), ArgumentError);
    stream.WriteRows(rows.data(), 3);
    EXPECT_THROW(stream.Finish(), ArgumentError);
    stream.WriteRows(rows.data(), 1);
    EXPECT_FALSE(stream.Finish().empty());
  }
  EXPECT_THROW(JpegStreamEncoder(0, 4), CodecError);
  EXPECT_THROW(JpegStreamEncoder(70000, 4), CodecError);
}

}  // namespace
}  // namespace skyfold
