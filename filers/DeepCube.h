// The classic cube geometry on deep samples (16-bit and float, with or
// without alpha): each output pixel is mapped straight to its source
// position and sampled bilinearly, with alpha interpolated premultiplied.
// The faces are the classic: left, front, right and back centred on the
// panorama's quarter columns (front at the middle), top and bottom in the
// orientation the classic pole assembly gives them. Used when a source
// keeps more than the classic 8-bit RGB; the classic 8-bit warp is
// untouched.
#pragma once

#include <array>

#include "imaging/Bitmap.h"
#include "imaging/Parallel.h"

namespace skyfold {

struct OutputFormat;

// Said once on the console when a source's samples are deeper than what the
// output type holds, so they are rounded and clipped.
inline constexpr const char* kReducedDepthLine =
    "出力の画素の深さに合わせて、値を丸めて切り詰めます。";

// The deepest format `output` holds for samples in `source` (24-bit for
// the classic types, output null).
PixelFormat HeldFormat(const OutputFormat* output, PixelFormat source);

// Whether samples in `format` are deeper than 8 bits or carry alpha.
bool IsDeep(PixelFormat format);

// The working format for sources in `format`: Rgb48 / Rgba64 for integer
// samples (8-bit ones widened), RgbF96 / RgbaF128 for float.
PixelFormat DeepWorkingFormat(PixelFormat format);

// Face `face` (0 left … 5 bottom) of the panorama, n × n, in the panorama's
// format (a working format).
Bitmap SampleCubeFace(const Bitmap& panorama, int face, int n, const Workers& workers);

// The width × width/2 panorama of six faces of one working format (face
// index order).
Bitmap SamplePanorama(const std::array<const Bitmap*, 6>& faces, int width, const Workers& workers);

}  // namespace skyfold
