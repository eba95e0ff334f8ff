#include "filers/PanoramaWarp.h"

#include <algorithm>
#include <utility>

#include "filers/StripBlend.h"
#include "imaging/Errors.h"

namespace skyfold {

namespace {

// Rows of the four strips blended one after another: the table rows they
// share stay in cache (4 rows of a 16384 panorama's table are 128 KB).
constexpr int kRowsTogether = 4;

}  // namespace

WarpDots::WarpDots(ProgressLine line, int height) : line_(std::move(line)) {
  const int step = RowsPerProgressDot(height);
  perStrip_ = 1 + (height + step - 1) / step;
  events_ = 4 * perStrip_;
}

void WarpDots::To(std::int64_t done, std::int64_t total) {
  const int due = total <= 0 ? events_ : static_cast<int>(events_ * done / total);
  for (; emitted_ < due; ++emitted_) {
    if (line_) line_(".", emitted_ % perStrip_ == 0 ? spAppend : spUpdate);
  }
}

void WarpPanorama(const Bitmap& source, const TmxCurrencyUV& table, const Workers& workers,
                  const CancelToken& cancel, WarpDots& dots, StripRange strips,
                  const std::function<WarpRows(int y0, int y1)>& target,
                  const std::function<void(int y0, int y1)>& done, int bandRows) {
  const int w = source.width();
  const int h = source.height();
  const int q4 = w / 4;
  if (source.format() != PixelFormat::Bgr24 || table.Columns() < q4 || table.Rows() < h) {
    throw ArgumentError("The mapping table does not cover the strip.");
  }
  const StripView strip0{source.data(), source.rowBytes(), q4, h};
  const int bands = h == 0 ? 0 : (h + bandRows - 1) / bandRows;
  for (int b = 0; b < bands; ++b) {
    cancel.Check();
    const int y0 = b * bandRows;
    const int y1 = std::min(h, y0 + bandRows);
    const WarpRows rows = target(y0, y1);
    if (q4 > 0 && rows.data != nullptr) {
      // Polar rows cross more of a strip the further they lie from its
      // middle: runs of rows are dealt out in turn to share the work evenly.
      workers.ForInterleaved(y0, y1, kRowsTogether, [&](int first, int last) {
        for (int r0 = first; r0 < last; r0 += kRowsTogether) {
          const int r1 = std::min(last, r0 + kRowsTogether);
          for (int i = 0; i < strips.count; ++i) {
            StripView strip = strip0;
            strip.data += static_cast<std::size_t>(strips.first + i) * q4 * 3;
            std::uint8_t* out = rows.data + rows.stride * static_cast<std::size_t>(r0 - y0) +
                                static_cast<std::size_t>(i) * q4 * 3;
            BlendStripRows(StripTarget{out, rows.stride, true}, strip, 3, table, r0, r1);
          }
        }
      });
    }
    done(y0, y1);
    dots.To(std::int64_t{strips.first} * bands + std::int64_t{strips.count} * (b + 1),
            std::int64_t{4} * bands);
  }
  dots.To(strips.first + strips.count, 4);
}

}  // namespace skyfold
