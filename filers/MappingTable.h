// TmxCurrencyUV: the mapping table of one quarter strip, 2q columns by 4q
// rows, indexed [column][row] by its users. Each entry names the
// source position (U + UFrac/10000, V + VFrac/10000) inside the strip;
// U = −1 marks "no source".
//
// Storage is compact: every value fits 16 bits (U ≤ 2q − 2 ≤ 8190,
// V ≤ 4q − 2 ≤ 16382, fractions −10000 … 10000), so an entry is 8 bytes
// instead of 24, and entries are kept row by row so that the warp walks
// memory in order. Get/Set convert to and from the full TCurrencyUV entry.
#pragma once

#include <cstdint>
#include <memory>

#include "filers/Currency.h"
#include "imaging/PixelMemory.h"

namespace skyfold {

struct TCurrencyUV {
  std::int32_t U = -1;
  Currency UFrac = Currency::FromRaw(-10000);
  std::int32_t V = -1;
  Currency VFrac = Currency::FromRaw(-10000);
  friend bool operator==(const TCurrencyUV&, const TCurrencyUV&) = default;
};

struct PackedUV {
  std::int16_t U, UFrac, V, VFrac;  // fractions as raw ten-thousandths
};

class TmxCurrencyUV {
 public:
  // Allocates columns × rows entries (contents undefined until the table is
  // built). Throws MemoryError.
  void SetSize(int columns, int rows);
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }

  TCurrencyUV Get(int column, int row) const;
  void Set(int column, int row, const TCurrencyUV& entry);

  // Row access for the hot loops: Row(y)[x] is entry [x][y].
  PackedUV* Row(int row) { return entries() + static_cast<std::size_t>(row) * columns_; }
  const PackedUV* Row(int row) const {
    return entries() + static_cast<std::size_t>(row) * columns_;
  }

 private:
  int columns_ = 0;
  int rows_ = 0;
  PackedUV* entries() const { return reinterpret_cast<PackedUV*>(memory_.get()); }

  PixelMemory memory_;
};

}  // namespace skyfold
