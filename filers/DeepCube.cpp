#include "filers/DeepCube.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <type_traits>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/OutputFormats.h"

namespace skyfold {

namespace {

struct Vec {
  double x, y, z;
};

double Dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Per face: where it looks (f), its image's right (r) and up (u); x to the
// right of the front view, y up, z forward. Face pixel (a, b) in −1 … 1
// (b down) looks along f + a·r − b·u.
struct FaceAxes {
  Vec f, r, u;
};

constexpr FaceAxes kFaces[6] = {
    {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},   // left
    {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},    // front
    {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}},   // right
    {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},  // back
    {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},   // top: its lower edge meets the front
    {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},   // bottom: its upper edge meets the front
};

// Premultiplied bilinear blend of up to four pixels of T samples, C
// channels (the fourth is alpha).
template <typename T, int C>
struct Pixels {
  static constexpr float kMax = std::is_same_v<T, float> ? 1.0f : 65535.0f;

  static void Blend(const T* const p[4], const float w[4], T* out) {
    if constexpr (C == 3) {
      for (int c = 0; c < 3; ++c) {
        const float v = w[0] * p[0][c] + w[1] * p[1][c] + w[2] * p[2][c] + w[3] * p[3][c];
        out[c] = Store(v);
      }
    } else {
      float alpha = 0;
      float colour[3] = {0, 0, 0};
      for (int k = 0; k < 4; ++k) {
        const float a = w[k] * p[k][3];
        alpha += a;
        for (int c = 0; c < 3; ++c) colour[c] += a * p[k][c];
      }
      for (int c = 0; c < 3; ++c) out[c] = Store(alpha > 0 ? colour[c] / alpha : 0.0f);
      out[3] = Store(alpha);
    }
  }

  static T Store(float v) {
    if constexpr (std::is_same_v<T, float>) {
      return v;
    } else {
      return static_cast<T>(std::clamp(v, 0.0f, 65535.0f) + 0.5f);
    }
  }
};

// Bilinear sample at (sx, sy) of the panorama (columns wrap across the ±180°
// seam, rows are clamped at the poles).
template <typename T, int C>
inline void SamplePano(const Bitmap& pano, float sx, float sy, T* o) {
  const int w = pano.width();
  const int h = pano.height();
  sy = std::clamp(sy, 0.0f, static_cast<float>(h - 1));
  const float x0f = std::floor(sx);
  const int y0 = std::min(static_cast<int>(sy), h - 1);
  const int y1 = std::min(y0 + 1, h - 1);
  const float fxw = sx - x0f, fyw = sy - static_cast<float>(y0);
  // sx lies within [−0.5, w − 0.5]: one step wraps it.
  int x0 = static_cast<int>(x0f);
  if (x0 < 0) x0 += w;
  if (x0 >= w) x0 -= w;
  const int x1 = x0 + 1 == w ? 0 : x0 + 1;
  const T* r0 = reinterpret_cast<const T*>(pano.row(y0));
  const T* r1 = reinterpret_cast<const T*>(pano.row(y1));
  const T* p[4] = {r0 + x0 * C, r0 + x1 * C, r1 + x0 * C, r1 + x1 * C};
  const float wt[4] = {(1 - fxw) * (1 - fyw), fxw * (1 - fyw), (1 - fxw) * fyw, fxw * fyw};
  Pixels<T, C>::Blend(p, wt, o);
}

// Rows [first, last) of face `face`. The trigonometry per pixel is one
// arctangent on the side faces (the longitude depends on the column only)
// and two on the polar ones.
template <typename T, int C>
void FaceRows(const Bitmap& pano, int face, Bitmap& out, int first, int last) {
  const int n = out.width();
  const float w = static_cast<float>(pano.width());
  const float h = static_cast<float>(pano.height());
  const float pi = std::numbers::pi_v<float>;
  const FaceAxes& axes = kFaces[face];
  std::vector<float> a(static_cast<std::size_t>(n)), columnX(a.size()), norm(a.size());
  for (int fx = 0; fx < n; ++fx) {
    a[fx] = 2.0f * (static_cast<float>(fx) + 0.5f) / static_cast<float>(n) - 1.0f;
    norm[fx] = 1.0f / std::sqrt(1.0f + a[fx] * a[fx]);
  }
  if (face < 4) {
    const float centre = static_cast<float>(std::atan2(axes.f.x, axes.f.z));
    for (int fx = 0; fx < n; ++fx) {
      columnX[fx] = ((centre + std::atan(a[fx])) / (2 * pi) + 0.5f) * w - 0.5f;
    }
  }
  for (int fy = first; fy < last; ++fy) {
    T* o = reinterpret_cast<T*>(out.row(fy));
    const float b = 2.0f * (static_cast<float>(fy) + 0.5f) / static_cast<float>(n) - 1.0f;
    for (int fx = 0; fx < n; ++fx, o += C) {
      float lon, lat;
      if (face < 4) {
        lat = std::atan(-b * norm[fx]);
        const float sy = (0.5f - lat / pi) * h - 0.5f;
        SamplePano<T, C>(pano, columnX[fx], sy, o);
        continue;
      }
      const float dx = static_cast<float>(axes.f.x + a[fx] * axes.r.x - b * axes.u.x);
      const float dy = static_cast<float>(axes.f.y + a[fx] * axes.r.y - b * axes.u.y);
      const float dz = static_cast<float>(axes.f.z + a[fx] * axes.r.z - b * axes.u.z);
      lon = std::atan2(dx, dz);
      lat = std::atan2(dy, std::sqrt(dx * dx + dz * dz));
      SamplePano<T, C>(pano, (lon / (2 * pi) + 0.5f) * w - 0.5f, (0.5f - lat / pi) * h - 0.5f, o);
    }
  }
}

template <typename T, int C>
void PanoRows(const std::array<const Bitmap*, 6>& faces, Bitmap& out, int first, int last) {
  const int w = out.width();
  const int h = out.height();
  const double pi = std::numbers::pi;
  // The longitudes' sines and cosines, once per call rather than per pixel.
  std::vector<double> sinLon(static_cast<std::size_t>(w)), cosLon(sinLon.size());
  for (int px = 0; px < w; ++px) {
    const double lon = ((px + 0.5) / w - 0.5) * 2 * pi;
    sinLon[px] = std::sin(lon);
    cosLon[px] = std::cos(lon);
  }
  for (int py = first; py < last; ++py) {
    T* o = reinterpret_cast<T*>(out.row(py));
    const double lat = (0.5 - (py + 0.5) / h) * pi;
    const double cl = std::cos(lat), sl = std::sin(lat);
    for (int px = 0; px < w; ++px, o += C) {
      const Vec d{cl * sinLon[px], sl, cl * cosLon[px]};
      int face = 0;
      double best = -2;
      for (int k = 0; k < 6; ++k) {
        const double t = Dot(d, kFaces[k].f);
        if (t > best) best = t, face = k;
      }
      const Bitmap& src = *faces[face];
      const int n = src.width();
      const double a = Dot(d, kFaces[face].r) / best;
      const double b = -Dot(d, kFaces[face].u) / best;
      const double sx = std::clamp((a + 1) / 2 * n - 0.5, 0.0, n - 1.0);
      const double sy = std::clamp((b + 1) / 2 * n - 0.5, 0.0, n - 1.0);
      const int x0 = std::min(static_cast<int>(sx), n - 1),
                y0 = std::min(static_cast<int>(sy), n - 1);
      const int x1 = std::min(x0 + 1, n - 1), y1 = std::min(y0 + 1, n - 1);
      const float fxw = static_cast<float>(sx - x0), fyw = static_cast<float>(sy - y0);
      const T* r0 = reinterpret_cast<const T*>(src.row(y0));
      const T* r1 = reinterpret_cast<const T*>(src.row(y1));
      const T* p[4] = {r0 + x0 * C, r0 + x1 * C, r1 + x0 * C, r1 + x1 * C};
      const float wt[4] = {(1 - fxw) * (1 - fyw), fxw * (1 - fyw), (1 - fxw) * fyw, fxw * fyw};
      Pixels<T, C>::Blend(p, wt, o);
    }
  }
}

// Calls body.template operator()<T, C>() for a working format.
template <typename Body>
void ByWorkingFormat(PixelFormat format, Body&& body) {
  switch (format) {
    case PixelFormat::Rgb48:
      return body.template operator()<std::uint16_t, 3>();
    case PixelFormat::Rgba64:
      return body.template operator()<std::uint16_t, 4>();
    case PixelFormat::RgbF96:
      return body.template operator()<float, 3>();
    case PixelFormat::RgbaF128:
      return body.template operator()<float, 4>();
    default:
      throw ArgumentError("PixelFormat is not Available.");
  }
}

}  // namespace

PixelFormat HeldFormat(const OutputFormat* output, PixelFormat source) {
  if (output == nullptr) return PixelFormat::Bgr24;
  const SampleType type = SampleTypeOf(source);
  const SampleType held =
      static_cast<int>(type) <= static_cast<int>(output->deepest) ? type : output->deepest;
  return DirectFormat(held, output->alpha && HasAlpha(source));
}

bool IsDeep(PixelFormat format) {
  return SampleTypeOf(format) != SampleType::U8 || HasAlpha(format);
}

PixelFormat DeepWorkingFormat(PixelFormat format) {
  const bool alpha = HasAlpha(format);
  return DirectFormat(SampleTypeOf(format) == SampleType::F32 ? SampleType::F32 : SampleType::U16,
                      alpha);
}

Bitmap SampleCubeFace(const Bitmap& panorama, int face, int n, const Workers& workers) {
  if (face < 0 || face > 5 || n <= 0) throw ArgumentError("Invalid face.");
  Bitmap out(n, n, panorama.format(), Uninitialised{}, panorama.pool());
  ByWorkingFormat(panorama.format(), [&]<typename T, int C>() {
    workers.For(
        0, n, [&](int first, int last) { FaceRows<T, C>(panorama, face, out, first, last); }, 8);
  });
  return out;
}

Bitmap SamplePanorama(const std::array<const Bitmap*, 6>& faces, int width,
                      const Workers& workers) {
  const PixelFormat format = faces[0]->format();
  for (const Bitmap* face : faces) {
    if (face->format() != format || face->empty() || face->width() != face->height()) {
      throw ArgumentError("The faces must be squares of one working format.");
    }
  }
  Bitmap out(width, width / 2, format, Uninitialised{}, faces[0]->pool());
  ByWorkingFormat(format, [&]<typename T, int C>() {
    workers.For(
        0, width / 2, [&](int first, int last) { PanoRows<T, C>(faces, out, first, last); }, 4);
  });
  return out;
}

}  // namespace skyfold
