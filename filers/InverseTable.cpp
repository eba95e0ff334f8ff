// The inverse mapping table: for every pixel of one quarter strip of the
// panorama, the position inside the same strip of the unfolded cube image
// (LoadCubeFaces) whose colour it takes.
//
// Column 0 of a strip is the centre line of a side face P, column q its edge
// with the next face Q; rows 0 … q−1 hold the band copy of the top face
// (row 0 its centre), rows q … 3q−1 the side faces. Only the upper-left
// quadrant is computed: its top rows are the gnomonic projection onto the
// top face, its lower rows onto face P, falling back to the top face where
// the side-face row would lie above the band edge. The other three quadrants
// are the mirror images p → 2q − 1 − p and p → 4q − 1 − p.
//
// λ depends only on the column and θ only on the row, so their functions are
// taken once per column and per row; the per-entry work is a few
// multiplications, split over threads by rows (each entry is computed on its
// own, so the result never depends on the thread count).
#include <cmath>
#include <cstdint>
#include <vector>

#include "filers/PanoFiler.h"
#include "imaging/Errors.h"
#include "imaging/Parallel.h"

namespace skyfold {

namespace {

constexpr double kPi = 3.1415926535897932385;
constexpr int kMinRowsPerBlock = 16;

// n pixels of the quarter unit q are 45·n/q degrees.
double AngleOf(int n, int q) { return (45.0 * n / q) * kPi / 180.0; }

// Integer part toward zero, and the rest in ten-thousandths rounded to
// nearest, ties to even (the default rounding mode); the rest may reach 10000.
// Every position stored here is ≥ 0. For 0 ≤ r < 2^52, adding and taking
// away 2^52 rounds r exactly as nearbyint does (doubles from 2^52 on are
// whole numbers), without a library call per entry.
void Store(double x, std::int16_t& whole, std::int16_t& frac) {
  constexpr double kTwo52 = 4503599627370496.0;
  const int i = static_cast<int>(x);  // toward zero, as trunc
  const double r = (x - i) * 10000.0;
  whole = static_cast<std::int16_t>(i);
  frac = static_cast<std::int16_t>(r >= 0.0 ? (r + kTwo52) - kTwo52 : std::nearbyint(r));
}

struct ColumnTerms {
  double sinL, cosL;
  double t;  // q · tan λ: the column on face P
  double s;  // √(t² + q²): the distance to that column's point on face P
};

}  // namespace

void BuildInverseTable(int q, TmxCurrencyUV& table, const TableBuild& build) {
  const auto progress = [&](const char* text, TSimProgressMode mode) {
    if (build.progress) build.progress(text, mode);
  };
  progress("座標を取得しています。", spAppend);
  if (q < 0 || !table.Mirrored() || table.Columns() != 2 * q || table.Rows() != 4 * q) {
    throw ArgumentError("The mapping table must be a mirrored table of its quarter strip.");
  }
  // Every entry is written below, so no entry is left in the "no source"
  // state the warp would skip; the first step has nothing left to do.
  CheckCancel(build.cancel);
  progress("....", spUpdate);

  std::vector<ColumnTerms> columns(static_cast<std::size_t>(q));
  for (int j = 0; j < q; ++j) {
    const double lambda = AngleOf(j, q);
    ColumnTerms& c = columns[static_cast<std::size_t>(j)];
    c.sinL = std::sin(lambda);
    c.cosL = std::cos(lambda);
    c.t = q * std::tan(lambda);
    c.s = std::sqrt(c.t * c.t + static_cast<double>(q * q));
  }
  std::vector<double> tanTheta(static_cast<std::size_t>(2 * q));
  for (int i = 0; i < 2 * q; ++i) tanTheta[static_cast<std::size_t>(i)] = std::tan(AngleOf(i, q));

  const auto topFace = [&](PackedUV& e, const ColumnTerms& c, double tanT) {
    const double r = q * tanT;
    Store(r * c.sinL, e.U, e.UFrac);
    Store(r * c.cosL, e.V, e.VFrac);
  };

  // Top-face quadrant.
  build.workers.For(
      0, q,
      [&](int first, int last) {
        for (int i = first; i < last; ++i) {
          if ((i & 63) == 0) CheckCancel(build.cancel);
          PackedUV* row = table.Row(i);
          const double tanT = tanTheta[static_cast<std::size_t>(i)];
          for (int j = 0; j < q; ++j) topFace(row[j], columns[static_cast<std::size_t>(j)], tanT);
        }
      },
      kMinRowsPerBlock);
  CheckCancel(build.cancel);
  progress("....", spUpdate);

  // Side-face quadrant; directions whose face-P row would lie above the band
  // edge (v < q) belong to the top face.
  build.workers.For(
      q, 2 * q,
      [&](int first, int last) {
        for (int i = first; i < last; ++i) {
          if ((i & 63) == 0) CheckCancel(build.cancel);
          PackedUV* row = table.Row(i);
          const double tanT = tanTheta[static_cast<std::size_t>(i)];
          for (int j = 0; j < q; ++j) {
            const ColumnTerms& c = columns[static_cast<std::size_t>(j)];
            const double v = 2 * q - c.s / tanT;
            if (v < q) {
              topFace(row[j], c, tanT);
            } else {
              Store(c.t, row[j].U, row[j].UFrac);
              Store(v, row[j].V, row[j].VFrac);
            }
          }
        }
      },
      kMinRowsPerBlock);
  CheckCancel(build.cancel);
  progress("....", spUpdate);

  // The other quadrants are its mirror images, derived on reading.
  progress("....", spUpdate);
}

void TPanoFiler::BuildMappingTable(int quarterUnit, TmxCurrencyUV& table) {
  BuildInverseTable(quarterUnit, table, TableBuildHere());
}

MappingTableBuilder TPanoFiler::TableBuilder() const { return BuildInverseTable; }

}  // namespace skyfold
