#include "filers/DeepCube.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <type_traits>

#include "imaging/Errors.h"

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

template <typename T, int C>
void FaceRows(const Bitmap& pano, const FaceAxes& axes, Bitmap& out, int first, int last) {
  const int n = out.width();
  const int w = pano.width();
  const int h = pano.height();
  const double pi = std::numbers::pi;
  for (int fy = first; fy < last; ++fy) {
    T* o = reinterpret_cast<T*>(out.row(fy));
    const double b = 2.0 * (fy + 0.5) / n - 1.0;
    for (int fx = 0; fx < n; ++fx, o += C) {
      const double a = 2.0 * (fx + 0.5) / n - 1.0;
      const Vec d{axes.f.x + a * axes.r.x - b * axes.u.x, axes.f.y + a * axes.r.y - b * axes.u.y,
                  axes.f.z + a * axes.r.z - b * axes.u.z};
      const double lon = std::atan2(d.x, d.z);
      const double lat = std::atan2(d.y, std::hypot(d.x, d.z));
      const double sx = (lon / (2 * pi) + 0.5) * w - 0.5;
      const double sy = std::clamp((0.5 - lat / pi) * h - 0.5, 0.0, h - 1.0);
      const double x0f = std::floor(sx);
      const int y0 = std::min(static_cast<int>(sy), h - 1);
      const int y1 = std::min(y0 + 1, h - 1);
      const float fxw = static_cast<float>(sx - x0f), fyw = static_cast<float>(sy - y0);
      // Across the ±180° seam the columns wrap.
      const int x0 = ((static_cast<int>(x0f) % w) + w) % w;
      const int x1 = (x0 + 1) % w;
      const T* r0 = reinterpret_cast<const T*>(pano.row(y0));
      const T* r1 = reinterpret_cast<const T*>(pano.row(y1));
      const T* p[4] = {r0 + x0 * C, r0 + x1 * C, r1 + x0 * C, r1 + x1 * C};
      const float wt[4] = {(1 - fxw) * (1 - fyw), fxw * (1 - fyw), (1 - fxw) * fyw, fxw * fyw};
      Pixels<T, C>::Blend(p, wt, o);
    }
  }
}

template <typename T, int C>
void PanoRows(const std::array<const Bitmap*, 6>& faces, Bitmap& out, int first, int last) {
  const int w = out.width();
  const int h = out.height();
  const double pi = std::numbers::pi;
  for (int py = first; py < last; ++py) {
    T* o = reinterpret_cast<T*>(out.row(py));
    const double lat = (0.5 - (py + 0.5) / h) * pi;
    const double cl = std::cos(lat), sl = std::sin(lat);
    for (int px = 0; px < w; ++px, o += C) {
      const double lon = ((px + 0.5) / w - 0.5) * 2 * pi;
      const Vec d{cl * std::sin(lon), sl, cl * std::cos(lon)};
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
        0, n,
        [&](int first, int last) { FaceRows<T, C>(panorama, kFaces[face], out, first, last); }, 8);
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
