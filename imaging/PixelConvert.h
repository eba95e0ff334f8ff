// Conversions between pixel formats of any sample type: palette and 8-bit
// B, G, R formats, 16-bit and float R, G, B (, A). Levels are compared on
// one scale: 8-bit 255, 16-bit 65535 and float 1.0 are the same white, and
// no transfer curve is applied. Into integer samples a value is rounded to
// the nearest level and clipped to the range; float samples keep any value.
#pragma once

#include "imaging/Bitmap.h"
#include "imaging/Parallel.h"

namespace skyfold {

// A new bitmap of format `to` (not a palette format) holding src's pixels;
// alpha is kept where both have it, opaque where only the target has it.
Bitmap ConvertFormat(const Bitmap& src, PixelFormat to, const Workers& workers = {});

// True when going from `from` to `to` can change a level beyond rounding
// into the coarser sample: fewer bits, values clipped, or alpha dropped.
bool ConversionLoses(PixelFormat from, PixelFormat to);

// Pixel (x, y) as R, G, B, A on the 0 … 1 scale (slow: tests and edges).
struct Rgba {
  float r = 0, g = 0, b = 0, a = 1;
};
Rgba ReadRgba(const Bitmap& bitmap, int x, int y);

}  // namespace skyfold
