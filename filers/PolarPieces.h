// The polar faces of the unfolded panorama: each is the four quarters of
// its polar band, drawn turned onto the face.
#pragma once

#include <climits>

#include "imaging/Bitmap.h"
#include "imaging/Parallel.h"

namespace skyfold {

// One polar band of the unfolded panorama as the pole assembly reads it:
// column c of piece p, row r, is pixel (column (first + p·q4 + c) mod wrap,
// row top + r) of a 24-bit source.
struct PolarBand {
  const Bitmap* source;
  int top;
  int rows;
  int first;
  int wrap;
};

// The band of face `which` (0 top, 1 bottom) of a regular 24-bit panorama,
// 8q × 4q: rotated left by 5q, so that its quarters are centred on the
// right, back, left and front faces in that order.
PolarBand PolarBandOf(const Bitmap& panorama, int which);

// Draws band rows [firstRow, lastRow) of piece p onto the face (N × N, 24
// bits, N = q4) with pure white transparent, straight at the place where
// the step-by-step assembly leaves it: there the piece is drawn at row
// `rows` (top face, which = 0) or row 0 (bottom face) and then turned with
// the face by the quarter turns that follow it — 3 − p clockwise for the top
// face, 3 − p counter-clockwise for the bottom face. Rows are split across
// threads in tiles; every piece pixel has its own destination pixel, so the
// result is the same for any thread count. The triangles the warp leaves in
// the pieces (their pixels that are not white) do not overlap on the face,
// so the band may as well be drawn a few rows at a time, all four pieces
// each time.
void DrawPieceTurned(Bitmap& face, const PolarBand& band, int p, int which, const Workers& workers,
                     int firstRow = 0, int lastRow = INT_MAX);

}  // namespace skyfold
