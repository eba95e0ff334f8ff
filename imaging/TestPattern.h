// A labelled test panorama: every pixel's colour follows its direction (so
// a face turned, mirrored or swapped shows at once), with a grid and each
// cube face's name written upright on it as the face is seen from inside.
#pragma once

#include "imaging/Bitmap.h"

namespace skyfold {

// width × width/2, 24 bits; width a positive multiple of 2.
Bitmap MakeTestPattern(int width, PoolRef pool = {});

}  // namespace skyfold
