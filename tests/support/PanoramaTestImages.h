// Panoramas drawn by the tests, a temporary folder, and the reference
// geometry of the forward conversion: where a face pixel takes its colour
// from in the panorama, written straight from the cube geometry (no table),
// and the bilinear blend at such a position.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "support/TempDir.h"

namespace skyfold::test {

inline std::vector<char> ReadBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void SetPixel(Bitmap& b, int x, int y, std::uint8_t blue, std::uint8_t green,
                     std::uint8_t red) {
  std::uint8_t* p = b.row(y) + x * b.bytesPerPixel();
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

// A W × W/2 24-bit panorama with detail everywhere and no pure white: the
// three channels vary at different rates in both directions, so a pixel
// taken from the wrong place or blended with the wrong weights shows.
inline Bitmap DrawTexturedPanorama(int width) {
  const int height = width / 2;
  Bitmap b(width, height, PixelFormat::Bgr24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      SetPixel(b, x, y, static_cast<std::uint8_t>((x * 7 + y * 3) % 241),
               static_cast<std::uint8_t>((x * x + 5 * y) % 233),
               static_cast<std::uint8_t>(20 + (x * 3 + y * y * 2) % 200));
    }
  }
  return b;
}

// Panorama column/row of a direction: longitude from the left edge and
// latitude above the horizon, in degrees.
inline double ColumnOf(double longitudeDeg, int width) { return longitudeDeg * width / 360.0; }
inline double RowOf(double latitudeDeg, int width) {
  return (90.0 - latitudeDeg) * (width / 2) / 180.0;
}

// Draws a size × size square of one colour centred on the given direction.
inline void DrawLandmark(Bitmap& b, double longitudeDeg, double latitudeDeg, int size,
                         std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  const int cx = static_cast<int>(std::floor(ColumnOf(longitudeDeg, b.width())));
  const int cy = static_cast<int>(std::floor(RowOf(latitudeDeg, b.width())));
  for (int dy = -size / 2; dy < size - size / 2; ++dy) {
    for (int dx = -size / 2; dx < size - size / 2; ++dx) {
      const int x = ((cx + dx) % b.width() + b.width()) % b.width();
      const int y = std::clamp(cy + dy, 0, b.height() - 1);
      SetPixel(b, x, y, blue, green, red);
    }
  }
}

// Where a face pixel takes its colour from: a position inside one quarter
// strip of the panorama (strip index 0 … 3, column and row within it).
struct StripPosition {
  int strip;
  double u;
  double v;
};

// The cube geometry for a panorama of width 8q: column c and row r of face
// `face` (0 left … 5 bottom) before scaling. Empty when no pole piece covers
// the pixel (never happens for a sound layout).
inline std::optional<StripPosition> FaceSourcePosition(int q, int face, int c, int r) {
  const long double k = 180.0L / std::numbers::pi_v<long double> * q / 45.0L;
  const int q4 = 2 * q;
  auto longitudePart = [&](int centre, int col, int depth, bool side) -> StripPosition {
    const int a = col >= q ? col - q : q - 1 - col;
    long double along = 0;
    if (side) {
      along = std::atan(static_cast<long double>(a) / q) * k;
    } else if (depth > 0) {
      along = std::atan(static_cast<long double>(a) / depth) * k;
    }
    // Right of the centre line: the strip that starts at the centre; left
    // of it: the strip that ends there.
    if (col >= q) return StripPosition{(centre / q4) % 4, static_cast<double>(along), 0};
    return StripPosition{(centre / q4 + 3) % 4, static_cast<double>(q4 - 1 - along), 0};
  };
  if (face < 4) {
    const int centre = (q4 * (face + 1)) % (8 * q);
    StripPosition p = longitudePart(centre, c, 0, true);
    const int a = c >= q ? c - q : q - 1 - c;
    const long double radius = std::sqrt(static_cast<long double>(q) * q + a * a);
    if (r < q) {
      p.v = static_cast<double>(std::atan(radius / (q - r)) * k);
    } else {
      p.v = static_cast<double>(4 * q - 1 - std::atan(radius / (r - q + 1)) * k);
    }
    return p;
  }
  const int centres[4] = {6 * q, 0, 2 * q, 4 * q};  // right, back, left, front
  for (int piece = 3; piece >= 0; --piece) {
    int cc = c, rr = r;
    for (int t = 0; t < 3 - piece; ++t) {
      const int oc = cc;
      if (face == 4) {  // counter-clockwise quarter turns undo the top's turns
        cc = rr;
        rr = q4 - 1 - oc;
      } else {
        cc = q4 - 1 - rr;
        rr = oc;
      }
    }
    int d;
    if (face == 4) {
      if (rr < q) continue;
      d = rr - q;
    } else {
      if (rr >= q) continue;
      d = q - 1 - rr;
    }
    if (cc < q - 1 - d || cc > q + d) continue;
    StripPosition p = longitudePart(centres[piece], cc, d, false);
    const int a = cc >= q ? cc - q : q - 1 - cc;
    const long double y =
        std::atan(std::sqrt(static_cast<long double>(a) * a + static_cast<long double>(d) * d) /
                  q) *
        k;
    p.v = static_cast<double>(face == 4 ? y : 4 * q - 1 - y);
    return p;
  }
  return std::nullopt;
}

// The warp's bilinear blend at a strip position: fractions in ten-thousandths,
// neighbours clamped to the strip, one rounding (half to even) at the end.
inline PaletteEntry BlendAt(const Bitmap& panorama, const StripPosition& p) {
  const int q4 = panorama.width() / 4;
  const int h = panorama.height();
  auto split = [](double v, int& whole, std::int64_t& frac) {
    whole = static_cast<int>(std::floor(v));
    frac = std::llrint((v - whole) * 10000.0);
  };
  int c0, r0;
  std::int64_t fu, fv;
  split(std::max(0.0, p.u), c0, fu);
  split(std::max(0.0, p.v), r0, fv);
  c0 = std::min(c0, q4 - 1);
  r0 = std::min(r0, h - 1);
  const int c1 = std::min(c0 + 1, q4 - 1);
  const int r1 = std::min(r0 + 1, h - 1);
  const int x0 = p.strip * q4;
  auto channel = [&](int r, int c, int ch) -> std::int64_t {
    return panorama.row(r)[(x0 + c) * 3 + ch];
  };
  std::uint8_t out[3];
  for (int ch = 0; ch < 3; ++ch) {
    const std::int64_t upper = channel(r0, c0, ch) * (10000 - fu) + channel(r0, c1, ch) * fu;
    const std::int64_t lower = channel(r1, c0, ch) * (10000 - fu) + channel(r1, c1, ch) * fu;
    const std::int64_t n = upper * (10000 - fv) + lower * fv;
    std::int64_t q = n / 100000000;
    const std::int64_t rem = n % 100000000;
    if (rem > 50000000 || (rem == 50000000 && (q & 1))) ++q;
    out[ch] = static_cast<std::uint8_t>(std::min<std::int64_t>(q, 255));
  }
  return PaletteEntry{out[0], out[1], out[2]};
}

inline int LevelDistance(const PaletteEntry& a, const PaletteEntry& b) {
  return std::max({std::abs(a.b - b.b), std::abs(a.g - b.g), std::abs(a.r - b.r)});
}

inline bool IsPureWhite(const PaletteEntry& p) { return p.b == 255 && p.g == 255 && p.r == 255; }

}  // namespace skyfold::test
