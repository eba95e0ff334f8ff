// Raster operations on Bitmaps: exact rectangle copies, nearest-neighbour
// stretches, transparent drawing with pure white as key, and conversion to
// 24 bits. Copies between formats convert: a palette source expands to
// B, G, R; a palette destination takes the nearest palette entry; the fourth
// byte of a 32-bit source is dropped (and set to 0 in a 32-bit destination
// that is drawn from 24 bits).
#pragma once

#include "imaging/Bitmap.h"

namespace skyfold {

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};

// Copies the w × h rectangle of src at (srcX, srcY) to dst at (dstX, dstY).
// The rectangle is clipped to both bitmaps.
void CopyRect(Bitmap& dst, int dstX, int dstY, const Bitmap& src, int srcX, int srcY, int w, int h);

// Stretches srcRect of src over dstRect of dst by nearest-neighbour point
// sampling (destination pixel i takes source pixel i * srcW / dstW); no
// averaging. dstRect is clipped to dst.
void StretchRect(Bitmap& dst, const Rect& dstRect, const Bitmap& src, const Rect& srcRect);

// Stretches the whole of src over dstRect.
void StretchDraw(Bitmap& dst, const Rect& dstRect, const Bitmap& src);

// Draws src onto dst at (x, y), leaving dst unchanged wherever the source
// pixel is pure white (255, 255, 255).
void DrawTransparent(Bitmap& dst, int x, int y, const Bitmap& src);

// Converts bitmap to Bgr24 in place (no-op when it already is).
void ConvertToBgr24(Bitmap& bitmap);

}  // namespace skyfold
