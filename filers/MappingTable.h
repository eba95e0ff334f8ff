// TmxCurrencyUV: the mapping table of one quarter strip, 2q columns by 4q
// rows, indexed [column][row] by its users. Each entry names the
// source position (U + UFrac/10000, V + VFrac/10000) inside the strip;
// U = −1 marks "no source".
//
// Storage is compact: every value fits 16 bits (U ≤ 2q − 2 ≤ 8190,
// V ≤ 4q − 2 ≤ 16382, fractions −10000 … 10000), so an entry is 8 bytes
// instead of 24, and entries are kept row by row so that the warp walks
// memory in order. Get/Set convert to and from the full TCurrencyUV entry.
//
// Both conversions' tables are mirror images across the middle column and
// the middle row. A mirrored table stores only its upper-left quadrant and
// derives the rest on reading, exactly as the builders would write it: a
// quarter of the memory (67 MB instead of 268 at 16384) and of the writing.
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

// Entry x of row y of a mirrored table from the stored quadrant: for
// x ≥ C/2 the entry at column C − 1 − x with U → C − 2 − U and
// UFrac → 10000 − UFrac (an entry without a source stays one); for
// y ≥ R/2 the entry at row R − 1 − y with V → R − 2 − V and
// VFrac → 10000 − VFrac.
inline PackedUV MirroredAcross(PackedUV e, bool columns, int c, bool rows, int r) {
  if (columns && e.U >= 0) {
    e.U = static_cast<std::int16_t>(c - 2 - e.U);
    e.UFrac = static_cast<std::int16_t>(10000 - e.UFrac);
  }
  if (rows) {
    e.V = static_cast<std::int16_t>(r - 2 - e.V);
    e.VFrac = static_cast<std::int16_t>(10000 - e.VFrac);
  }
  return e;
}

class TmxCurrencyUV {
 public:
  // Allocates columns × rows entries (contents undefined until the table is
  // built), from pool when given. Throws MemoryError.
  void SetSize(int columns, int rows, const PoolRef& pool = {});
  // The same for a mirrored table (columns and rows even): only the
  // upper-left quadrant is stored. The builders fill only such tables.
  void SetSizeMirrored(int columns, int rows, const PoolRef& pool = {});
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  bool Mirrored() const { return mirrored_; }
  // Columns and rows stored: all, or half of each when mirrored.
  int StoredColumns() const { return mirrored_ ? columns_ / 2 : columns_; }
  int StoredRows() const { return mirrored_ ? rows_ / 2 : rows_; }

  // Any entry; in a mirrored table Set takes only stored ones.
  TCurrencyUV Get(int column, int row) const;
  void Set(int column, int row, const TCurrencyUV& entry);
  PackedUV Entry(int column, int row) const;

  // Row access for the builders and the hot loops: Row(y)[x] is entry
  // [x][y] for a stored row and column.
  PackedUV* Row(int row) { return entries() + static_cast<std::size_t>(row) * StoredColumns(); }
  const PackedUV* Row(int row) const {
    return entries() + static_cast<std::size_t>(row) * StoredColumns();
  }

 private:
  void Allocate(std::size_t count, const PoolRef& pool);

  int columns_ = 0;
  int rows_ = 0;
  bool mirrored_ = false;
  PackedUV* entries() const { return reinterpret_cast<PackedUV*>(memory_.get()); }

  PixelMemory memory_;
};

}  // namespace skyfold
