// The bilinear blend of one strip through a mapping table, shared by both
// conversion directions. Every output level is
//   round((upper · gv + lower · fv) / 10^8), halves to even, capped to 0 … 255,
// with upper = P00 · gu + P01 · fu and lower = P10 · gu + P11 · fu, the
// fractions in ten-thousandths (g = 10000 − f). The arithmetic is exact up
// to that one division, so the bytes are the same on every machine, with or
// without the vector code, and for any split of the rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filers/MappingTable.h"

namespace skyfold {

// The pixels one strip is read from: pixel (x, y) at data + y·stride +
// x·bytes. The stride may be a whole panorama's row, so a strip is read in
// place without copying it out first.
struct StripView {
  const std::uint8_t* data;
  std::size_t stride;
  int width;
  int height;
};

// The rows between two progress dots of a strip's line, one dot per chunk
// (about 40 dots; strips under 40 rows get a dot per row). Every warp of a
// strip reports through it, so the lines are the same whichever warp runs.
inline int RowsPerProgressDot(int height) { return height / 40 > 1 ? height / 40 : 1; }

// Where a call for strip rows [first, last) puts them: row y at data +
// (y − first)·stride. Pixels whose entry has no source (U < 0) keep what the
// target holds, or become white when whiteWithoutSource is set.
struct StripTarget {
  std::uint8_t* data;
  std::size_t stride;
  bool whiteWithoutSource = false;
};

// Blends rows [first, last) of the strip into dest, for 3- or 4-byte pixels
// (the fourth byte is left alone). Neighbours are clamped to the strip.
void BlendStripRows(const StripTarget& dest, const StripView& src, int bytes,
                    const TmxCurrencyUV& table, int first, int last);

// The blend runs in its vector form where the CPU has one, unless the
// environment has SKYFOLD_PLAIN_BLEND=1 or UseVectorBlend(false) was called
// (tests run both forms). Both forms give the same bytes, so the choice
// changes only the speed.
void UseVectorBlend(bool enabled);
// Whether vector forms are wanted (the switch above): the general
// resampler's 8-bit bilinear samples follow it too, with the same bytes.
bool VectorBlendInUse();

}  // namespace skyfold
