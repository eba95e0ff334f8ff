#include "imaging/Raster.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "imaging/PixelConvert.h"

namespace skyfold {
namespace {

// Index of the palette entry nearest to (b, g, r) in squared RGB distance.
std::uint8_t NearestIndex(const std::vector<PaletteEntry>& palette, int b, int g, int r) {
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const int db = palette[i].b - b, dg = palette[i].g - g, dr = palette[i].r - r;
    const int d = db * db + dg * dg + dr * dr;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
      if (d == 0) break;
    }
  }
  return static_cast<std::uint8_t>(best);
}

// Converts n pixels from src's format (at s) to dst's format (at d).
void ConvertPixels(const Bitmap& src, const std::uint8_t* s, const Bitmap& dst, std::uint8_t* d,
                   int n) {
  const PixelFormat sf = src.format();
  const PixelFormat df = dst.format();
  if (sf == df && (!IsIndexed(sf) || src.palette() == dst.palette())) {
    std::memcpy(d, s, static_cast<std::size_t>(n) * BytesPerPixel(sf));
    return;
  }
  if (IsIndexed(df)) {
    const int sb = BytesPerPixel(sf);
    for (int i = 0; i < n; ++i, s += sb) {
      PaletteEntry c;
      if (IsIndexed(sf)) {
        c = *s < src.palette().size() ? src.palette()[*s] : PaletteEntry{};
      } else {
        c = PaletteEntry{s[0], s[1], s[2]};
      }
      d[i] = NearestIndex(dst.palette(), c.b, c.g, c.r);
    }
    return;
  }
  const int db = BytesPerPixel(df);
  if (IsIndexed(sf)) {
    const auto& pal = src.palette();
    for (int i = 0; i < n; ++i, d += db) {
      const PaletteEntry c = s[i] < pal.size() ? pal[s[i]] : PaletteEntry{};
      d[0] = c.b;
      d[1] = c.g;
      d[2] = c.r;
      if (db == 4) d[3] = 0;
    }
    return;
  }
  const int sb = BytesPerPixel(sf);
  for (int i = 0; i < n; ++i, s += sb, d += db) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    if (db == 4) d[3] = 0;
  }
}

bool IsWhite(const Bitmap& src, const std::uint8_t* p) {
  if (IsIndexed(src.format())) {
    const auto& pal = src.palette();
    return *p < pal.size() && pal[*p] == PaletteEntry{255, 255, 255};
  }
  return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

}  // namespace

void CopyRect(Bitmap& dst, int dstX, int dstY, const Bitmap& src, int srcX, int srcY, int w,
              int h) {
  // Clip against both bitmaps, moving both origins together.
  if (srcX < 0) {
    dstX -= srcX;
    w += srcX;
    srcX = 0;
  }
  if (srcY < 0) {
    dstY -= srcY;
    h += srcY;
    srcY = 0;
  }
  if (dstX < 0) {
    srcX -= dstX;
    w += dstX;
    dstX = 0;
  }
  if (dstY < 0) {
    srcY -= dstY;
    h += dstY;
    dstY = 0;
  }
  w = std::min({w, src.width() - srcX, dst.width() - dstX});
  h = std::min({h, src.height() - srcY, dst.height() - dstY});
  if (w <= 0 || h <= 0) return;
  const int sb = src.bytesPerPixel();
  const int db = dst.bytesPerPixel();
  for (int y = 0; y < h; ++y) {
    ConvertPixels(src, src.row(srcY + y) + static_cast<std::size_t>(srcX) * sb, dst,
                  dst.row(dstY + y) + static_cast<std::size_t>(dstX) * db, w);
  }
}

void StretchRect(Bitmap& dst, const Rect& dstRect, const Bitmap& src, const Rect& srcRect) {
  if (dstRect.width <= 0 || dstRect.height <= 0 || srcRect.width <= 0 || srcRect.height <= 0) {
    return;
  }
  if (srcRect.left < 0 || srcRect.top < 0 || srcRect.left + srcRect.width > src.width() ||
      srcRect.top + srcRect.height > src.height()) {
    return;
  }
  if (dstRect.width == srcRect.width && dstRect.height == srcRect.height) {
    CopyRect(dst, dstRect.left, dstRect.top, src, srcRect.left, srcRect.top, srcRect.width,
             srcRect.height);
    return;
  }
  const int x0 = std::max(0, dstRect.left);
  const int x1 = std::min(dst.width(), dstRect.left + dstRect.width);
  const int y0 = std::max(0, dstRect.top);
  const int y1 = std::min(dst.height(), dstRect.top + dstRect.height);
  if (x0 >= x1 || y0 >= y1) return;

  // Source column of every destination column, computed once.
  const int n = x1 - x0;
  const int sb = src.bytesPerPixel();
  std::vector<std::size_t> srcOffset(n);
  for (int x = x0; x < x1; ++x) {
    const std::int64_t sx =
        srcRect.left + std::int64_t{x - dstRect.left} * srcRect.width / dstRect.width;
    srcOffset[x - x0] = static_cast<std::size_t>(sx) * sb;
  }
  std::vector<std::uint8_t> gathered(static_cast<std::size_t>(n) * sb);
  const int db = dst.bytesPerPixel();
  int lastSy = -1;
  for (int y = y0; y < y1; ++y) {
    const int sy = static_cast<int>(srcRect.top + std::int64_t{y - dstRect.top} * srcRect.height /
                                                      dstRect.height);
    if (sy != lastSy) {
      const std::uint8_t* s = src.row(sy);
      std::uint8_t* g = gathered.data();
      if (sb == 3) {
        for (int i = 0; i < n; ++i, g += 3) {
          const std::uint8_t* p = s + srcOffset[i];
          g[0] = p[0];
          g[1] = p[1];
          g[2] = p[2];
        }
      } else {
        for (int i = 0; i < n; ++i, g += sb) std::memcpy(g, s + srcOffset[i], sb);
      }
      lastSy = sy;
    }
    ConvertPixels(src, gathered.data(), dst, dst.row(y) + static_cast<std::size_t>(x0) * db, n);
  }
}

void StretchDraw(Bitmap& dst, const Rect& dstRect, const Bitmap& src) {
  StretchRect(dst, dstRect, src, Rect{0, 0, src.width(), src.height()});
}

void DrawTransparent(Bitmap& dst, int x, int y, const Bitmap& src) {
  const int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
  const int w = std::min(src.width(), dst.width() - x);
  const int h = std::min(src.height(), dst.height() - y);
  const int sb = src.bytesPerPixel();
  const int db = dst.bytesPerPixel();
  if (src.format() == PixelFormat::Bgr24 && dst.format() == PixelFormat::Bgr24) {
    // The common case, without the per-pixel format dispatch.
    for (int sy = sy0; sy < h; ++sy) {
      const std::uint8_t* s = src.row(sy) + static_cast<std::size_t>(sx0) * 3;
      std::uint8_t* d = dst.row(y + sy) + static_cast<std::size_t>(x + sx0) * 3;
      for (int sx = sx0; sx < w; ++sx, s += 3, d += 3) {
        if ((s[0] & s[1] & s[2]) != 255) {
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
        }
      }
    }
    return;
  }
  for (int sy = sy0; sy < h; ++sy) {
    const std::uint8_t* s = src.row(sy);
    std::uint8_t* d = dst.row(y + sy);
    for (int sx = sx0; sx < w; ++sx) {
      const std::uint8_t* p = s + static_cast<std::size_t>(sx) * sb;
      if (!IsWhite(src, p)) {
        ConvertPixels(src, p, dst, d + static_cast<std::size_t>(x + sx) * db, 1);
      }
    }
  }
}

void ConvertToBgr24(Bitmap& bitmap) {
  if (bitmap.format() == PixelFormat::Bgr24) return;
  if (SampleTypeOf(bitmap.format()) != SampleType::U8) {
    // Rounded to the nearest level and clipped.
    Bitmap converted = ConvertFormat(bitmap, PixelFormat::Bgr24);
    bitmap.swap(converted);
    return;
  }
  Bitmap converted(bitmap.width(), bitmap.height(), PixelFormat::Bgr24);
  for (int y = 0; y < bitmap.height(); ++y) {
    ConvertPixels(bitmap, bitmap.row(y), converted, converted.row(y), bitmap.width());
  }
  bitmap.swap(converted);
}

}  // namespace skyfold
