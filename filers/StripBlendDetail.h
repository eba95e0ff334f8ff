// The parts of the strip blend its plain and vector forms share: the
// definition of one pixel, the rounding, and the table rows as the blend
// reads them. Private to StripBlend.cpp and StripBlendAvx2.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "filers/MappingTable.h"
#include "filers/StripBlend.h"

namespace skyfold::blend {

constexpr int kFracOne = 10000;

// Row y of a mirrored table (width entries) derived from the stored
// quadrant, as TmxCurrencyUV::Entry gives them.
void DeriveRow(const TmxCurrencyUV& table, int y, int width, PackedUV* out);
// The same for entries from … width − 1 only.
void DeriveRowFrom(const TmxCurrencyUV& table, int y, int width, PackedUV* out, int from);

// The entries of table rows as the blend reads them, in pixel order: a
// stored row itself, or for a mirrored table the row derived from the
// stored quadrant into a buffer (a few kilobytes, reused row after row).
// Derive is the function that derives a row (plain or vector).
template <void (*Derive)(const TmxCurrencyUV&, int, int, PackedUV*)>
class RowEntries {
 public:
  const PackedUV* Of(const TmxCurrencyUV& table, int y, int width) {
    if (!table.Mirrored()) return table.Row(y);
    buffer_.resize(static_cast<std::size_t>(width));
    Derive(table, y, width, buffer_.data());
    return buffer_.data();
  }

 private:
  std::vector<PackedUV> buffer_;
};

// n / 10^8 rounded to nearest, ties to even, for n ≥ 0; capped at 255. The
// constant division compiles to a multiply.
inline std::uint8_t RoundLevel(std::uint64_t n) {
  constexpr std::uint64_t kDiv = 100000000;
  std::uint64_t q = n / kDiv;
  const std::uint64_t r = n - q * kDiv;
  q += (r > kDiv / 2) | ((r == kDiv / 2) & (q & 1));
  return static_cast<std::uint8_t>(std::min<std::uint64_t>(q, 255));
}

// The blend of one pixel, straight from the definition: upper and lower are
// exact integers (levels × 10^4; |value| < 2^25 for any int16 weights), n is
// exact in 64 bits, so only the final division rounds.
inline void BlendPixel(std::uint8_t* out, const std::uint8_t* p00, std::size_t right,
                       std::size_t down, const PackedUV& e) {
  const std::uint8_t* p10 = p00 + down;
  const std::int32_t fu = e.UFrac;
  const std::int32_t gu = kFracOne - fu;
  const std::int64_t fv = e.VFrac;
  const std::int64_t gv = kFracOne - fv;
  for (int ch = 0; ch < 3; ++ch) {
    const std::int32_t upper = p00[ch] * gu + p00[ch + right] * fu;
    const std::int32_t lower = p10[ch] * gu + p10[ch + right] * fu;
    const std::int64_t n = upper * gv + lower * fv;
    out[ch] = RoundLevel(static_cast<std::uint64_t>(std::max<std::int64_t>(n, 0)));
  }
}

// The vector form (StripBlendAvx2.cpp): whether this CPU can run it, and the
// blend of rows [first, last) with exactly the bytes of the plain form.
bool VectorFormSupported();
void BlendStripRowsVector(const StripTarget& dest, const StripView& src, int bytes,
                          const TmxCurrencyUV& table, int first, int last);

}  // namespace skyfold::blend
