#include "imaging/PixelConvert.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/Errors.h"

namespace skyfold {

namespace {

// One row of n pixels of src into R, G, B, A floats.
void RowToFloat(const Bitmap& src, const std::uint8_t* s, int n, float* out) {
  const PixelFormat f = src.format();
  if (IsIndexed(f)) {
    const auto& pal = src.palette();
    for (int i = 0; i < n; ++i, out += 4) {
      const PaletteEntry c = s[i] < pal.size() ? pal[s[i]] : PaletteEntry{};
      out[0] = c.r / 255.0f, out[1] = c.g / 255.0f, out[2] = c.b / 255.0f, out[3] = 1.0f;
    }
    return;
  }
  const int channels = ChannelCount(f);
  const bool alpha = HasAlpha(f);
  switch (SampleTypeOf(f)) {
    case SampleType::U8:
      for (int i = 0; i < n; ++i, s += channels, out += 4) {
        out[0] = s[2] / 255.0f, out[1] = s[1] / 255.0f, out[2] = s[0] / 255.0f;
        out[3] = alpha ? s[3] / 255.0f : 1.0f;
      }
      return;
    case SampleType::U16: {
      const auto* p = reinterpret_cast<const std::uint16_t*>(s);
      for (int i = 0; i < n; ++i, p += channels, out += 4) {
        for (int c = 0; c < 3; ++c) out[c] = p[c] / 65535.0f;
        out[3] = alpha ? p[3] / 65535.0f : 1.0f;
      }
      return;
    }
    case SampleType::F32: {
      const auto* p = reinterpret_cast<const float*>(s);
      for (int i = 0; i < n; ++i, p += channels, out += 4) {
        for (int c = 0; c < 3; ++c) out[c] = p[c];
        out[3] = alpha ? p[3] : 1.0f;
      }
      return;
    }
  }
}

template <typename T>
T Level(float v, float max) {
  if (!(v > 0.0f)) return 0;  // NaN too
  if (v >= 1.0f) return static_cast<T>(max);
  return static_cast<T>(std::lround(v * max));
}

void RowFromFloat(const float* in, int n, PixelFormat f, std::uint8_t* d) {
  const int channels = ChannelCount(f);
  const bool alpha = HasAlpha(f);
  switch (SampleTypeOf(f)) {
    case SampleType::U8:
      for (int i = 0; i < n; ++i, in += 4, d += channels) {
        d[0] = Level<std::uint8_t>(in[2], 255.0f);
        d[1] = Level<std::uint8_t>(in[1], 255.0f);
        d[2] = Level<std::uint8_t>(in[0], 255.0f);
        if (channels == 4) d[3] = alpha ? Level<std::uint8_t>(in[3], 255.0f) : 0;
      }
      return;
    case SampleType::U16: {
      auto* p = reinterpret_cast<std::uint16_t*>(d);
      for (int i = 0; i < n; ++i, in += 4, p += channels) {
        for (int c = 0; c < channels; ++c) p[c] = Level<std::uint16_t>(in[c], 65535.0f);
      }
      return;
    }
    case SampleType::F32: {
      auto* p = reinterpret_cast<float*>(d);
      for (int i = 0; i < n; ++i, in += 4, p += channels) std::memcpy(p, in, channels * 4);
      return;
    }
  }
}

int SampleBits(PixelFormat f) {
  switch (SampleTypeOf(f)) {
    case SampleType::U8:
      return 8;
    case SampleType::U16:
      return 16;
    default:
      return 32;
  }
}

}  // namespace

Bitmap ConvertFormat(const Bitmap& src, PixelFormat to, const Workers& workers) {
  if (IsIndexed(to)) throw ArgumentError("PixelFormat is not Available.");
  if (src.format() == to) return src.clone();
  Bitmap out(src.width(), src.height(), to, Uninitialised{}, src.pool());
  const int w = src.width();
  workers.For(
      0, src.height(),
      [&](int first, int last) {
        std::vector<float> buffer(static_cast<std::size_t>(w) * 4);
        for (int y = first; y < last; ++y) {
          RowToFloat(src, src.row(y), w, buffer.data());
          RowFromFloat(buffer.data(), w, to, out.row(y));
        }
      },
      16);
  return out;
}

bool ConversionLoses(PixelFormat from, PixelFormat to) {
  if (HasAlpha(from) && !HasAlpha(to)) return true;
  const int a = IsIndexed(from) ? 8 : SampleBits(from);
  return SampleBits(to) < a || (a == 32 && SampleBits(to) != 32);
}

Rgba ReadRgba(const Bitmap& bitmap, int x, int y) {
  float v[4] = {0, 0, 0, 1};
  RowToFloat(bitmap, bitmap.row(y) + static_cast<std::size_t>(x) * bitmap.bytesPerPixel(), 1, v);
  return Rgba{v[0], v[1], v[2], v[3]};
}

}  // namespace skyfold
