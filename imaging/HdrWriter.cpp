// Radiance RGBE (.hdr), written here by hand: it is a text header and four
// bytes a pixel, and no Debian library offers it short of a whole image
// framework. Scanlines are stored flat (every reader accepts them); alpha is
// dropped. The format has no place for a profile, EXIF or XMP.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/OutputFile.h"
#include "imaging/OutputFormats.h"
#include "imaging/PixelConvert.h"

namespace skyfold {

namespace {

void ToRgbe(const float* rgb, std::uint8_t* out) {
  const float r = std::max(rgb[0], 0.0f), g = std::max(rgb[1], 0.0f), b = std::max(rgb[2], 0.0f);
  const float v = std::max({r, g, b});
  if (!(v >= 1e-32f) || !std::isfinite(v)) {
    std::memset(out, 0, 4);
    return;
  }
  int e = 0;
  const float scale = std::frexp(v, &e) * 256.0f / v;
  out[0] = static_cast<std::uint8_t>(r * scale);
  out[1] = static_cast<std::uint8_t>(g * scale);
  out[2] = static_cast<std::uint8_t>(b * scale);
  out[3] = static_cast<std::uint8_t>(e + 128);
}

}  // namespace

void SaveHdr(OutputFile& file, const Bitmap& bitmap, const ImageMetadata&) {
  Bitmap converted;
  const Bitmap* image = &bitmap;
  if (bitmap.format() != PixelFormat::RgbF96) {
    converted = ConvertFormat(bitmap, PixelFormat::RgbF96);
    image = &converted;
  }
  const int w = image->width();
  const int h = image->height();
  const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(h) +
                             " +X " + std::to_string(w) + "\n";
  file.write(header.data(), header.size());
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 4);
  for (int y = 0; y < h; ++y) {
    const auto* s = reinterpret_cast<const float*>(image->row(y));
    std::uint8_t* d = row.data();
    for (int x = 0; x < w; ++x, s += 3, d += 4) ToRgbe(s, d);
    file.write(row.data(), row.size());
  }
}

}  // namespace skyfold
