// The forward table against its definition evaluated entirely in extended
// precision: the fast double evaluation (with its recheck near rounding
// boundaries) must give the very same entries for every quarter size.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "filers/SimFilers.h"

namespace skyfold {
namespace {

// (trunc, ten-thousandths rounded half to even) of atan(arg) · 180 / π · q / 45,
// step by step in long double.
std::pair<int, int> ExtendedSplit(long double arg, int q) {
  long double v = std::atan(arg);
  v = v * 180.0L;
  v = v / std::numbers::pi_v<long double>;
  v = v * static_cast<long double>(q);
  v = v / 45.0L;
  const long double t = std::trunc(v);
  return {static_cast<int>(t), static_cast<int>(std::nearbyint((v - t) * 10000.0L))};
}

void ExpectEntry(const TmxCurrencyUV& table, int x, int y, std::pair<int, int> u,
                 std::pair<int, int> v) {
  const PackedUV e = table.Row(y)[x];
  ASSERT_EQ(e.U, u.first) << x << "," << y;
  ASSERT_EQ(e.UFrac, u.second) << x << "," << y;
  ASSERT_EQ(e.V, v.first) << x << "," << y;
  ASSERT_EQ(e.VFrac, v.second) << x << "," << y;
}

TEST(ForwardTableReference, ComputedQuarterMatchesExtendedPrecisionForSeveralSizes) {
  for (int q : {12, 97, 256, 300}) {
    TSimFiler filer;
    TmxCurrencyUV table;
    table.SetSizeMirrored(2 * q, 4 * q);
    filer.BuildMappingTable(q, table);
    for (int y = 0; y < q; ++y) {
      for (int x = 0; x <= y; ++x) {
        const auto u = y == 0 ? std::pair{0, 0} : ExtendedSplit(static_cast<long double>(x) / y, q);
        const auto v = ExtendedSplit(std::sqrt(static_cast<long double>(x * x + y * y)) / q, q);
        ExpectEntry(table, x, y, u, v);
      }
    }
    for (int y = q; y < 2 * q; ++y) {
      for (int x = 0; x < q; ++x) {
        const auto u = ExtendedSplit(static_cast<long double>(x) / q, q);
        const auto v =
            ExtendedSplit(std::sqrt(static_cast<long double>(q * q + x * x)) / (2 * q - y), q);
        ExpectEntry(table, x, y, u, v);
      }
    }
  }
}

}  // namespace
}  // namespace skyfold
