// The warp of a whole panorama through the table of one quarter strip: the
// one loop both conversions and both ways of saving use.
//
// The panorama is four strips side by side, each resampled through the same
// table. The result is made a band of rows at a time, every band holding the
// same rows of the strips warped together (all four when the bands go to an
// encoder: the table rows a band reads are then read once, while in cache,
// for the four strips, and a band is handed on as soon as it is complete;
// one at a time when the panorama is warped in place through a strip-sized
// buffer). The source is only read.
//
// The progress lines are the strips' lines of dots: "." opening each strip's
// line and one more per chunk of RowsPerProgressDot rows. Since bands cover
// the strips together, the dots are spread evenly over the bands: the same
// lines, in the same order, whatever the band size and thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "filers/MappingTable.h"
#include "filers/RunContext.h"
#include "imaging/Bitmap.h"
#include "imaging/Cancel.h"
#include "imaging/Parallel.h"

namespace skyfold {

// Where the rows of a band go: row y0 + i at data + i · stride.
struct WarpRows {
  std::uint8_t* data;
  std::size_t stride;
};

// The progress lines of the warp of a panorama `height` rows high.
class WarpDots {
 public:
  WarpDots(ProgressLine line, int height);
  // Reports the dots due once `done` of `total` parts of the work are done.
  void To(std::int64_t done, std::int64_t total);

 private:
  ProgressLine line_;
  int perStrip_;
  int events_;
  int emitted_ = 0;
};

// The strips a call warps: `count` strips from `first` on; the target's rows
// hold those strips side by side.
struct StripRange {
  int first = 0;
  int count = 4;
};

// Warps strips of the 24-bit source (width a multiple of 8, height at most
// half the width) through table (quarter unit width / 8) into the rows
// target gives, band by band of `bandRows` (a band whose target has no data
// is skipped); `done(y0, y1)` runs after each band, on the calling thread.
// Pixels without a source become white. dots reports the strips' share of
// the warp's lines. Throws ArgumentError when the table does not cover a
// strip, Cancelled when the token is set (checked between bands).
void WarpPanorama(const Bitmap& source, const TmxCurrencyUV& table, const Workers& workers,
                  const CancelToken& cancel, WarpDots& dots, StripRange strips,
                  const std::function<WarpRows(int y0, int y1)>& target,
                  const std::function<void(int y0, int y1)>& done, int bandRows = 64);

}  // namespace skyfold
