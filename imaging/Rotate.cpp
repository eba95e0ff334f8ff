// Quarter and half turns of 24- and 32-bit bitmaps. The turned image is built
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
  if (bitmap.format() != PixelFormat::Bgr24 && bitmap.format() != PixelFormat::Bgrx32) {
    throw ArgumentError("PixelFormat is not Available.");
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
    if (bitmap.format() == PixelFormat::Bgr24) {
      Turn90<3>(bitmap, turned, direction, workers);
    } else {
      Turn90<4>(bitmap, turned, direction, workers);
    }
  }
  bitmap.swap(turned);
}

void RotateBitmap180(Bitmap& bitmap, const Workers& workers) {
  CheckFormat(bitmap);
  Bitmap turned(bitmap.width(), bitmap.height(), bitmap.format(), Uninitialised{}, bitmap.pool());
  if (!bitmap.empty()) {
    if (bitmap.format() == PixelFormat::Bgr24) {
      Turn180<3>(bitmap, turned, workers);
    } else {
      Turn180<4>(bitmap, turned, workers);
    }
  }
  bitmap.swap(turned);
}

}  // namespace skyfold
