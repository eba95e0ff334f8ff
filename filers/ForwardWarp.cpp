// The warp machinery of TSimFiler: the forward mapping table, the strip
// resampler shared by both directions, and the forward face cutter.
//
// Principle: one quarter strip of the panorama (90 degrees of longitude,
// 2q wide and 4q high, q pixels per 45 degrees) maps onto the same strip of
// the unfolded cube: the middle band holds half of two side faces, the top
// and bottom bands triangles of the polar faces. The table says, for every
// pixel of a strip, which source position it blends from; it is computed
// once and serves all four strips. WarpImage resamples each strip in place;
// SaveCubeFaces then cuts the six faces out of the unfolded panorama and
// assembles each polar face from its four triangles.
//
// Reproducibility: the table keeps fractions in ten-thousandths and the
// blend is integer arithmetic with one final round-half-to-even division, so
// results are bit-identical on every machine and for every thread count
// (rows are split into disjoint blocks; progress is reported only from the
// calling thread, between blocks).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "filers/SimFilers.h"
#include "imaging/Errors.h"
#include "imaging/Parallel.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr std::int16_t kNoSource = -1;
constexpr std::int16_t kNoFrac = -10000;
constexpr int kFracOne = 10000;

// Rows of a pixel loop handed to one thread at least; keeps thread start-up
// negligible against the work of small strips.
constexpr int kMinPixelsPerBlock = 1 << 16;

int MinRowsPerBlock(int width) { return std::max(1, kMinPixelsPerBlock / std::max(1, width)); }

// Radians to pixels at q pixels per 45 degrees, evaluated step by step in
// extended precision: atan(arg) · 180 / π · q / 45.
long double AtanPixels(long double arg, int q) {
  long double v = std::atan(arg);
  v = v * 180.0L;
  v = v / std::numbers::pi_v<long double>;
  v = v * static_cast<long double>(q);
  return v / 45.0L;
}

// (trunc(v), fraction in ten-thousandths rounded half to even) for v ≥ 0.
// The fraction can reach 10000.
void Split(long double v, std::int16_t& whole, std::int16_t& frac) {
  const long double t = std::trunc(v);
  whole = static_cast<std::int16_t>(t);
  // nearbyint rounds in the default mode: to nearest, ties to even.
  frac = static_cast<std::int16_t>(std::nearbyint((v - t) * 10000.0L));
}

// Split(AtanPixels(num / den, q)) with the extended-precision result, but
// computed in double first: double's error here stays far below 1e-6 of a
// ten-thousandth, so unless the value lies that close to an integer or to a
// rounding midpoint both precisions split it alike. Only those rare values
// are recomputed in extended precision — same table, a fraction of the time.
void SplitAtan(long double num, long double den, int q, std::int16_t& whole, std::int16_t& frac) {
  constexpr double kMargin = 1e-5;  // in ten-thousandths
  double v = std::atan(static_cast<double>(num) / static_cast<double>(den));
  v = v * 180.0 / std::numbers::pi * q / 45.0;
  const double t = std::trunc(v);
  const double f = (v - t) * 10000.0;
  const double nearestHalf = std::floor(f) + 0.5;
  if (f > kMargin && f < 10000.0 - kMargin && std::abs(f - nearestHalf) > kMargin) {
    whole = static_cast<std::int16_t>(t);
    frac = static_cast<std::int16_t>(std::nearbyint(f));
    return;
  }
  Split(AtanPixels(num / den, q), whole, frac);
}

// n / 10^8 rounded to nearest, ties to even, for n ≥ 0; capped at 255.
inline std::uint8_t RoundLevel(std::uint64_t n) {
  constexpr std::uint64_t kDiv = 100000000;
  std::uint64_t q = n / kDiv;
  const std::uint64_t r = n - q * kDiv;
  q += (r > kDiv / 2) | ((r == kDiv / 2) & (q & 1));
  return static_cast<std::uint8_t>(std::min<std::uint64_t>(q, 255));
}

// Bilinear blend of rows [first, last) of one strip. upper and lower are
// exact integers (levels × 10^4), so only the final division rounds.
template <int kBytes>
void BlendRows(Bitmap& dest, const Bitmap& source, const TmxCurrencyUV& table, int first,
               int last) {
  const int w = source.width();
  const int h = source.height();
  const std::uint8_t* src = source.data();
  const std::size_t stride = source.rowBytes();
  for (int y = first; y < last; ++y) {
    const PackedUV* entries = table.Row(y);
    std::uint8_t* out = dest.row(y);
    for (int x = 0; x < w; ++x) {
      const PackedUV e = entries[x];
      if (e.U < 0) continue;  // no source: the pixel keeps what dest holds
      // Neighbours are clamped to the strip, never taken from the next one.
      const int c0 = std::min<int>(e.U, w - 1);
      const int c1 = std::min(c0 + 1, w - 1);
      const int r0 = std::clamp<int>(e.V, 0, h - 1);
      const int r1 = std::min(r0 + 1, h - 1);
      const std::int64_t fu = e.UFrac;
      const std::int64_t gu = kFracOne - fu;
      const std::int64_t fv = e.VFrac;
      const std::int64_t gv = kFracOne - fv;
      const std::uint8_t* p00 = src + stride * r0 + c0 * kBytes;
      const std::uint8_t* p01 = src + stride * r0 + c1 * kBytes;
      const std::uint8_t* p10 = src + stride * r1 + c0 * kBytes;
      const std::uint8_t* p11 = src + stride * r1 + c1 * kBytes;
      std::uint8_t* d = out + x * kBytes;
      for (int ch = 0; ch < 3; ++ch) {
        const std::int64_t upper = p00[ch] * gu + p01[ch] * fu;
        const std::int64_t lower = p10[ch] * gu + p11[ch] * fu;
        const std::int64_t n = upper * gv + lower * fv;
        d[ch] = RoundLevel(static_cast<std::uint64_t>(std::max<std::int64_t>(n, 0)));
      }
    }
  }
}

}  // namespace

void TSimFiler::BuildMappingTable(int quarterUnit, TmxCurrencyUV& table) {
  const int q = quarterUnit;
  DoProgress("座標を取得しています。", spAppend);
  if (q < 0 || table.Columns() < 2 * q || table.Rows() < 4 * q) {
    throw ArgumentError("The mapping table is smaller than its quarter strip.");
  }

  // Only the top band's columns 0 … q − 1 can stay without a source (x > y);
  // every other entry is written by the phases below, so only those rows
  // need the "no source" initialisation.
  ParallelFor(
      0, q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          PackedUV* row = table.Row(y);
          std::fill(row, row + q, PackedUV{kNoSource, kNoFrac, kNoSource, kNoFrac});
        }
      },
      MinRowsPerBlock(q));
  DoProgress("....", spUpdate);

  // Top band, one half triangle: x ≤ y. Row y costs y + 1 entries, so rows
  // are processed in pairs (y, q − 1 − y) to give every block the same work.
  auto topRow = [&](int y) {
    PackedUV* row = table.Row(y);
    for (int x = 0; x <= y; ++x) {
      PackedUV& e = row[x];
      if (y == 0) {
        e.U = 0;
        e.UFrac = 0;
      } else {
        SplitAtan(x, y, q, e.U, e.UFrac);
      }
      SplitAtan(std::sqrt(static_cast<long double>(x * x + y * y)), q, q, e.V, e.VFrac);
    }
  };
  ParallelFor(
      0, (q + 1) / 2,
      [&](int first, int last) {
        for (int t = first; t < last; ++t) {
          topRow(t);
          if (q - 1 - t != t) topRow(q - 1 - t);
        }
      },
      MinRowsPerBlock(q));
  DoProgress("....", spUpdate);

  // Side band, upper left quarter.
  ParallelFor(
      q, 2 * q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          PackedUV* row = table.Row(y);
          const long double height = static_cast<long double>(2 * q - y);
          for (int x = 0; x < q; ++x) {
            PackedUV& e = row[x];
            SplitAtan(x, q, q, e.U, e.UFrac);
            SplitAtan(std::sqrt(static_cast<long double>(q * q + x * x)), height, q, e.V, e.VFrac);
          }
        }
      },
      MinRowsPerBlock(q));
  DoProgress("....", spUpdate);

  // Mirror left to right: source position p → 2q − 1 − p.
  ParallelFor(
      0, 2 * q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          PackedUV* row = table.Row(y);
          for (int x = q; x < 2 * q; ++x) {
            const PackedUV s = row[2 * q - 1 - x];
            PackedUV& e = row[x];
            if (s.U == kNoSource) {
              e.U = kNoSource;
              e.UFrac = kNoFrac;
            } else {
              e.U = static_cast<std::int16_t>(2 * q - 2 - s.U);
              e.UFrac = static_cast<std::int16_t>(kFracOne - s.UFrac);
            }
            e.V = s.V;
            e.VFrac = s.VFrac;
          }
        }
      },
      MinRowsPerBlock(2 * q));
  DoProgress("....", spUpdate);

  // Mirror top to bottom: row position p → 4q − 1 − p. "No source" entries
  // keep U = −1, which is all the warp looks at.
  ParallelFor(
      2 * q, 4 * q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const PackedUV* mirror = table.Row(4 * q - 1 - y);
          PackedUV* row = table.Row(y);
          for (int x = 0; x < 2 * q; ++x) {
            const PackedUV s = mirror[x];
            row[x] = PackedUV{s.U, s.UFrac, static_cast<std::int16_t>(4 * q - 2 - s.V),
                              static_cast<std::int16_t>(kFracOne - s.VFrac)};
          }
        }
      },
      MinRowsPerBlock(2 * q));
}

void TSimFiler::ResampleStrip(Bitmap& dest, const Bitmap& source, const TmxCurrencyUV& table) {
  const int w = source.width();
  const int h = source.height();
  if (table.Columns() < w || table.Rows() < h) {
    throw ArgumentError("The mapping table does not cover the strip.");
  }
  // A dest of the right format and size keeps its pixels: those without a
  // source stay as they are (white in a fresh bitmap).
  if (dest.format() != source.format()) {
    dest.reset(w, h, source.format());
  } else {
    dest.setSize(w, h);
  }
  // Strips lower than 40 rows still get a dot per row.
  const int step = std::max(1, h / 40);
  DoProgress(".", spAppend);

  const int bytes = source.bytesPerPixel();
  const bool direct =
      source.format() == PixelFormat::Bgr24 || source.format() == PixelFormat::Bgrx32;
  const int minRows = MinRowsPerBlock(w);
  // One chunk per progress dot: the dot on this thread, then the chunk's
  // rows on all threads.
  for (int y0 = 0; y0 < h; y0 += step) {
    DoProgress(".", spUpdate);
    if (!direct || w == 0) continue;
    const int y1 = std::min(y0 + step, h);
    ParallelFor(
        y0, y1,
        [&](int first, int last) {
          if (bytes == 3) {
            BlendRows<3>(dest, source, table, first, last);
          } else {
            BlendRows<4>(dest, source, table, first, last);
          }
        },
        minRows);
  }
}

void TSimFiler::WarpImage(Bitmap& bitmap) {
  const int q4 = bitmap.width() / 4;
  const int h = bitmap.height();
  Bitmap a(q4, h, PixelFormat::Bgr24);
  // B is shared by the four strips: the pixels without a source are the
  // same in every strip and keep the white B was created with, which the
  // polar face assembly relies on.
  Bitmap b(q4, h, PixelFormat::Bgr24);

  const int q = q4 / 2;
  TmxCurrencyUV table;
  table.SetSize(2 * q, 4 * q);
  BuildMappingTable(q, table);

  DoProgress("処理中 ", spAppend);
  for (int k = 0; k < 4; ++k) {
    CopyRect(a, 0, 0, bitmap, k * q4, 0, q4, h);
    ResampleStrip(b, a, table);
    CopyRect(bitmap, k * q4, 0, b, 0, 0, q4, h);
  }
}

void TSimFiler::SaveCubeFaces(Bitmap& bitmap) {
  const int q4 = bitmap.width() / 4;
  const int q = q4 / 2;
  const int size = OutputSize;
  DoProgress("画像ファイルを書き出しています。", spAppend);

  for (std::size_t i = 0; i < FileNames.size(); ++i) {
    DoProgress(FileNames[i], spAppend);
    if (i >= 6) continue;  // sphere names beyond the six faces: nothing to cut
    const std::string path = OutputPath(FileNames[i]);
    Bitmap face(q4, q4, PixelFormat::Bgr24);

    if (i <= 2) {
      const int left = (2 * static_cast<int>(i) + 1) * q;
      CopyRect(face, 0, 0, bitmap, left, q, q4, q4);
    } else if (i == 3) {
      // The back face straddles the seam: its left half is the panorama's
      // right end, its right half the left end.
      CopyRect(face, 0, 0, bitmap, 7 * q, q, q, q4);
      DoProgress("..", spUpdate);
      CopyRect(face, q, 0, bitmap, 0, q, q, q4);
      DoProgress("..", spUpdate);
    } else {
      // The polar band rotated left by 5q, so that its quarters are centred
      // on the right, back, left and front faces in that order.
      const int top = i == 4 ? 0 : 3 * q;
      Bitmap strip(bitmap.width(), q, PixelFormat::Bgr24);
      CopyRect(strip, 0, 0, bitmap, 5 * q, top, 3 * q, q);
      CopyRect(strip, 3 * q, 0, bitmap, 0, top, 5 * q, q);
      AssemblePoleFace(face, strip, static_cast<int>(i) - 4);
    }

    const auto faceIndex = static_cast<std::uint8_t>(i);
    if (face.width() == size && face.height() == size) {
      // A 1:1 stretch is a copy; save the face itself.
      SaveImage(face, path, faceIndex);
    } else {
      Bitmap out(size, size, PixelFormat::Bgr24);
      StretchDraw(out, Rect{0, 0, size, size}, face);
      SaveImage(out, path, faceIndex);
    }
  }
}

void TSimFiler::AssemblePoleFace(Bitmap& face, const Bitmap& strip, int which) {
  const int q4 = strip.width() / 4;
  const int h = strip.height();
  if (face.format() != PixelFormat::Bgr24) {
    face.reset(q4, q4, PixelFormat::Bgr24);
  } else {
    face.setSize(q4, q4);
  }
  Bitmap piece(q4, h, PixelFormat::Bgr24);
  // Each piece is a triangle on white; drawing it with white as the
  // transparent colour lets the four triangles tile the face.
  for (int p = 0; p < 4; ++p) {
    CopyRect(piece, 0, 0, strip, p * q4, 0, q4, h);
    DrawTransparent(face, 0, which == 0 ? h : 0, piece);
    if (p < 3) RotateBitmap90(face, which == 0 ? rdClockwise : rdCounterClockwise);
    DoProgress(".", spUpdate);
  }
}

}  // namespace skyfold
