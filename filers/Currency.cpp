#include "filers/Currency.h"

#include <cmath>

namespace skyfold {

Currency Currency::FromDouble(double v) {
  // nearbyint uses the current rounding mode, which is round-half-even.
  return Currency{static_cast<std::int64_t>(std::nearbyint(v * 10000.0))};
}

}  // namespace skyfold
