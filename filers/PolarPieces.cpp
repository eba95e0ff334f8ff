#include "filers/PolarPieces.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace skyfold {

PolarBand PolarBandOf(const Bitmap& panorama, int which) {
  const int q = panorama.width() / 8;
  return PolarBand{&panorama, which == 0 ? 0 : 3 * q, q, 5 * q, 8 * q};
}

void DrawPieceTurned(Bitmap& face, const PolarBand& band, int p, int which, const Workers& workers,
                     int firstRow, int lastRow) {
  constexpr int kTile = 64;
  const int n = face.width();
  const int off = which == 0 ? band.rows : 0;
  const int rows = std::min(band.rows, n - off);  // clipped like a plain draw
  const int lo = std::max(0, firstRow), hi = std::min(rows, lastRow);
  if (n <= 0 || lo >= hi) return;
  const int clockwiseTurns = which == 0 ? 3 - p : (p + 1) % 4;
  // Destination of piece pixel (c, r) before the turns is (c, r + off);
  // each turn is linear, so the address is base + c·dc + r·dr.
  const auto stride = static_cast<std::ptrdiff_t>(face.rowBytes());
  const std::ptrdiff_t last = n - 1;
  std::ptrdiff_t base = 0, dc = 0, dr = 0;
  switch (clockwiseTurns) {
    case 0:  // (c, r + off)
      base = off * stride, dc = 3, dr = stride;
      break;
    case 1:  // (N − 1 − (r + off), c)
      base = (last - off) * 3, dc = stride, dr = -3;
      break;
    case 2:  // (N − 1 − c, N − 1 − (r + off))
      base = (last - off) * stride + last * 3, dc = -3, dr = -stride;
      break;
    default:  // (r + off, N − 1 − c)
      base = off * 3 + last * stride, dc = -stride, dr = 3;
      break;
  }
  std::uint8_t* origin = face.data() + base;
  // The band's columns of this piece, in at most two runs around the wrap.
  const int start = (band.first + p * n) % band.wrap;
  const int firstRun = std::min(n, band.wrap - start);
  const Bitmap& src = *band.source;
  auto drawRun = [&](int r0, int r1, int c0, int c1, int sourceColumn) {
    // A local step: the stores could alias one read through the closure.
    const std::ptrdiff_t step = dc;
    for (int r = r0; r < r1; ++r) {
      const std::uint8_t* s = src.row(band.top + r) + static_cast<std::size_t>(sourceColumn) * 3;
      std::uint8_t* d = origin + c0 * step + r * dr;
      for (int c = c0; c < c1; ++c, s += 3, d += step) {
        if ((s[0] & s[1] & s[2]) != 255) {
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
        }
      }
    }
  };
  workers.For(
      0, (hi - lo + kTile - 1) / kTile,
      [&](int firstTile, int lastTile) {
        for (int t = firstTile; t < lastTile; ++t) {
          const int r0 = lo + t * kTile, r1 = std::min(hi, r0 + kTile);
          for (int c0 = 0; c0 < n; c0 += kTile) {
            const int c1 = std::min(n, c0 + kTile);
            if (c0 < firstRun) drawRun(r0, r1, c0, std::min(c1, firstRun), start + c0);
            if (c1 > firstRun) {
              const int from = std::max(c0, firstRun);
              drawRun(r0, r1, from, c1, from - firstRun);
            }
          }
        }
      },
      4);
}

}  // namespace skyfold
