// Draws the README's antialiasing picture: a zone plate panorama whose
// rings grow finer than the faces can hold, and its front face at 128
// pixels with the classic sampling (left) and with lanczos3 (right).
//
// usage: skyfold_aliasing_picture OUT.png
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <numbers>
#include <vector>

#include "filers/SphereResampler.h"
#include "imaging/Bitmap.h"

namespace {

using skyfold::Bitmap;
using skyfold::RasterView;

RasterView<std::uint8_t> ViewOf(Bitmap& b) {
  return {b.data(), b.width(), b.height(), 3, static_cast<std::ptrdiff_t>(b.rowBytes())};
}

// A grey PNG of the picture's blue channel (the picture is grey).
bool SaveGreyPng(const char* fileName, const Bitmap& b) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName, "wb"), std::fclose);
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, b.width(), b.height(), 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<std::uint8_t> line(static_cast<std::size_t>(b.width()));
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) line[x] = b.row(y)[x * 3];
    png_write_row(png, line.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: skyfold_aliasing_picture OUT.png\n";
    return 2;
  }
  constexpr int kWidth = 2048, kEdge = 128;
  // Rings about the front face's centre: one cycle per two panorama pixels
  // at the face's edge, four times finer than a 128 face can show.
  Bitmap pano(kWidth, kWidth / 2);
  const double reach = kWidth / 8.0;
  for (int y = 0; y < pano.height(); ++y) {
    std::uint8_t* p = pano.row(y);
    for (int x = 0; x < kWidth; ++x, p += 3) {
      const double dx = x + 0.5 - kWidth / 2.0, dy = y + 0.5 - kWidth / 4.0;
      const double v =
          127.5 + 127.5 * std::cos(std::numbers::pi * (dx * dx + dy * dy) / (2 * reach));
      p[0] = p[1] = p[2] = static_cast<std::uint8_t>(std::lround(v));
    }
  }
  const RasterView<std::uint8_t> source = ViewOf(pano);
  constexpr int kScale = 3;  // each face pixel drawn 3 × 3, so the pattern shows
  Bitmap picture(2 * kEdge * kScale + 8, kEdge * kScale);
  int left = 0;
  for (skyfold::ResampleFilter filter :
       {skyfold::ResampleFilter::Design, skyfold::ResampleFilter::Lanczos3}) {
    Bitmap face(kEdge, kEdge);
    skyfold::ResampleFaceFromPanorama<std::uint8_t>(source, 1, ViewOf(face), skyfold::Orientation{},
                                                    filter, {}, nullptr);
    for (int y = 0; y < picture.height(); ++y) {
      for (int x = 0; x < kEdge * kScale; ++x) {
        std::memcpy(picture.row(y) + (left + x) * 3, face.row(y / kScale) + (x / kScale) * 3, 3);
      }
    }
    left += kEdge * kScale + 8;
  }
  return SaveGreyPng(argv[1], picture) ? 0 : 1;
}
