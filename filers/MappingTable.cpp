#include "filers/MappingTable.h"

#include <algorithm>
#include <new>

#include "imaging/Errors.h"

namespace skyfold {

void TmxCurrencyUV::Allocate(std::size_t count, const PoolRef& pool) {
  memory_ = nullptr;  // the old entries go before the new ones come
  try {
    memory_ = AllocatePixelMemory(count * sizeof(PackedUV), pool);
  } catch (const std::bad_alloc&) {
    throw MemoryError("Out of memory");
  }
}

void TmxCurrencyUV::SetSize(int columns, int rows, const PoolRef& pool) {
  if (columns < 0 || rows < 0) throw ArgumentError("Invalid mapping table size.");
  Allocate(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), pool);
  columns_ = columns;
  rows_ = rows;
  mirrored_ = false;
}

void TmxCurrencyUV::SetSizeMirrored(int columns, int rows, const PoolRef& pool) {
  if (columns < 0 || rows < 0 || columns % 2 != 0 || rows % 2 != 0) {
    throw ArgumentError("Invalid mapping table size.");
  }
  Allocate(static_cast<std::size_t>(columns / 2) * static_cast<std::size_t>(rows / 2), pool);
  columns_ = columns;
  rows_ = rows;
  mirrored_ = true;
}

PackedUV TmxCurrencyUV::Entry(int column, int row) const {
  if (!mirrored_) return Row(row)[column];
  const bool right = column >= columns_ / 2;
  const bool lower = row >= rows_ / 2;
  const PackedUV stored =
      Row(lower ? rows_ - 1 - row : row)[right ? columns_ - 1 - column : column];
  return MirroredAcross(stored, right, columns_, lower, rows_);
}

TCurrencyUV TmxCurrencyUV::Get(int column, int row) const {
  const PackedUV p = Entry(column, row);
  return TCurrencyUV{p.U, Currency::FromRaw(p.UFrac), p.V, Currency::FromRaw(p.VFrac)};
}

void TmxCurrencyUV::Set(int column, int row, const TCurrencyUV& e) {
  if (column >= StoredColumns() || row >= StoredRows()) {
    throw ArgumentError("Only the stored quadrant of a mirrored table can be set.");
  }
  Row(row)[column] =
      PackedUV{static_cast<std::int16_t>(e.U), static_cast<std::int16_t>(e.UFrac.raw),
               static_cast<std::int16_t>(e.V), static_cast<std::int16_t>(e.VFrac.raw)};
}

}  // namespace skyfold
