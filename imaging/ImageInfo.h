// What a source file tells about itself: its header, read without decoding
// any pixel (so a run can check its memory before anything is allocated),
// and what a load noticed that did not stop it.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/Bitmap.h"

namespace skyfold {

struct ImageHeader {
  std::string format;  // "BMP", "JPEG", "TIFF" or "PNG"
  std::int64_t width = 0;
  std::int64_t height = 0;
  int channels = 0;       // as stored: 1 grey or palette, 3 colour, 4 with alpha or CMYK
  int bitsPerSample = 0;  // as stored (a 16-bit BMP: 5)
  int bitsPerPixel = 0;   // as stored
  // What loading gives: the bitmap's format and size, and the most memory
  // the decoder holds at once (the bitmap, the file or strip buffers,
  // libjpeg's coefficients for a progressive file, libtiff's colour
  // raster), an upper bound.
  PixelFormat loadedFormat = PixelFormat::Bgr24;
  std::uint64_t bitmapBytes = 0;
  std::uint64_t peakBytes = 0;
  std::uint64_t fileBytes = 0;
};

// Whether the file stores more than 8 bits a sample (16-bit, half or float).
inline bool HoldsDeepSamples(const ImageHeader& header) {
  return header.bitsPerSample > 8 || header.format == "EXR" || header.format == "HDR";
}

// Filled by a load that succeeded.
struct LoadReport {
  // The data ended before the last row: the decoder filled the rest (JPEG
  // grey, TIFF black). The image is shown, but the user should be told.
  bool incomplete = false;
  std::string detail;  // the decoder's own words about it
};

}  // namespace skyfold
