// Quarter and half turns of bitmaps of whole-pixel formats (8-bit, 16-bit and
// float samples). The turned image is built
// in a new bitmap and swapped in at the end, so a failure (an unsupported
// format, no memory) leaves the caller's bitmap as it was. The quarter turn
// walks the image in square tiles: reading rows while writing columns of a
// 4096 × 4096 face would otherwise miss the cache on every pixel. Threads
// split the destination rows, so the result never depends on their count.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/Parallel.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr int kTile = 64;

void CheckFormat(const Bitmap& bitmap) {
  if (IsIndexed(bitmap.format())) throw ArgumentError("PixelFormat is not Available.");
}

// Calls turn.template operator()<bytes per pixel>() for the bitmap's format.
template <typename Turn>
void ByPixelSize(const Bitmap& bitmap, Turn&& turn) {
  switch (bitmap.bytesPerPixel()) {
    case 3:
      return turn.template operator()<3>();
    case 4:
      return turn.template operator()<4>();
    case 6:
      return turn.template operator()<6>();
    case 8:
      return turn.template operator()<8>();
    case 12:
      return turn.template operator()<12>();
    default:
      return turn.template operator()<16>();
  }
}

template <int kBytes>
void Turn90(const Bitmap& src, Bitmap& dst, TRotateDirection direction, const Workers& workers) {
  const int w = src.width();
  const int h = src.height();
  std::vector<const std::uint8_t*> srcRows(h);
  for (int k = 0; k < h; ++k) srcRows[k] = src.row(k);
  std::vector<std::uint8_t*> dstRows(w);
  for (int j = 0; j < w; ++j) dstRows[j] = dst.row(j);

  // Clockwise: destination (H-1-k, j) is source (j, k);
  // counter-clockwise: destination (k, j) is source (W-1-j, k).
  // Each thread owns a block of destination rows.
  const bool clockwise = direction == rdClockwise;
  workers.For(
      0, w,
      [&](int first, int last) {
        for (int j0 = first; j0 < last; j0 += kTile) {
          const int j1 = std::min(last, j0 + kTile);
          for (int k0 = 0; k0 < h; k0 += kTile) {
            const int k1 = std::min(h, k0 + kTile);
            for (int j = j0; j < j1; ++j) {
              std::uint8_t* out = dstRows[j];
              const std::size_t sx = static_cast<std::size_t>(clockwise ? j : w - 1 - j) * kBytes;
              for (int k = k0; k < k1; ++k) {
                const int dx = clockwise ? h - 1 - k : k;
                std::memcpy(out + static_cast<std::size_t>(dx) * kBytes, srcRows[k] + sx, kBytes);
              }
            }
          }
        }
      },
      kTile);
}

template <int kBytes>
void Turn180(const Bitmap& src, Bitmap& dst, const Workers& workers) {
  const int w = src.width();
  const int h = src.height();
  workers.For(
      0, h,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const std::uint8_t* in = src.row(h - 1 - y) + static_cast<std::size_t>(w - 1) * kBytes;
          std::uint8_t* out = dst.row(y);
          for (int x = 0; x < w; ++x, in -= kBytes, out += kBytes) std::memcpy(out, in, kBytes);
        }
      },
      kTile);
}

}  // namespace

void RotateBitmap90(Bitmap& bitmap, TRotateDirection direction, const Workers& workers) {
  CheckFormat(bitmap);
  // Every pixel of the target is written: no white fill first.
  Bitmap turned(bitmap.height(), bitmap.width(), bitmap.format(), Uninitialised{}, bitmap.pool());
  if (!bitmap.empty()) {
    ByPixelSize(bitmap, [&]<int kBytes>() { Turn90<kBytes>(bitmap, turned, direction, workers); });
  }
  bitmap.swap(turned);
}

void RotateBitmap180(Bitmap& bitmap, const Workers& workers) {
  CheckFormat(bitmap);
  Bitmap turned(bitmap.width(), bitmap.height(), bitmap.format(), Uninitialised{}, bitmap.pool());
  if (!bitmap.empty()) {
    ByPixelSize(bitmap, [&]<int kBytes>() { Turn180<kBytes>(bitmap, turned, workers); });
  }
  bitmap.swap(turned);
}

}  // namespace skyfold
