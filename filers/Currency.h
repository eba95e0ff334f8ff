// Currency: a fixed-point decimal, a 64-bit integer holding value × 10000.
// Copies and comparisons act on the stored integer, so they are exact.
#pragma once

#include <cstdint>

namespace skyfold {

struct Currency {
  std::int64_t raw = 0;  // value × 10000

  static constexpr Currency FromRaw(std::int64_t r) { return Currency{r}; }
  // Nearest ten-thousandth, ties to even.
  static Currency FromDouble(double v);
  double ToDouble() const { return static_cast<double>(raw) / 10000.0; }

  friend constexpr bool operator==(Currency, Currency) = default;
  friend constexpr Currency operator-(Currency c) { return Currency{-c.raw}; }
};

}  // namespace skyfold
