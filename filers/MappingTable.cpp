#include "filers/MappingTable.h"

#include <algorithm>
#include <new>

#include "imaging/Errors.h"
#include "imaging/Parallel.h"

namespace skyfold {

void TmxCurrencyUV::Allocate(std::size_t count) {
  memory_ = nullptr;  // the old entries go before the new ones come
  try {
    memory_ = AllocatePixelMemory(count * sizeof(PackedUV));
  } catch (const std::bad_alloc&) {
    throw MemoryError("Out of memory");
  }
}

void TmxCurrencyUV::SetSize(int columns, int rows) {
  if (columns < 0 || rows < 0) throw ArgumentError("Invalid mapping table size.");
  Allocate(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
  columns_ = columns;
  rows_ = rows;
  mirrored_ = false;
}

void TmxCurrencyUV::SetSizeMirrored(int columns, int rows) {
  if (columns < 0 || rows < 0 || columns % 2 != 0 || rows % 2 != 0) {
    throw ArgumentError("Invalid mapping table size.");
  }
  Allocate(static_cast<std::size_t>(columns / 2) * static_cast<std::size_t>(rows / 2));
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

void MirrorUpperLeftQuadrant(TmxCurrencyUV& table, int q, const std::function<void()>& between) {
  if (table.Mirrored() || table.Columns() < 2 * q || table.Rows() < 4 * q) {
    throw ArgumentError("Only a full table of the quarter strip's size can be mirrored.");
  }
  const int minRows = MinRowsPerBlock(2 * q);
  ParallelFor(
      0, 2 * q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          PackedUV* row = table.Row(y);
          for (int x = q; x < 2 * q; ++x) {
            row[x] = MirroredAcross(row[2 * q - 1 - x], true, 2 * q, false, 4 * q);
          }
        }
      },
      minRows);
  between();
  ParallelFor(
      2 * q, 4 * q,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const PackedUV* mirror = table.Row(4 * q - 1 - y);
          PackedUV* row = table.Row(y);
          for (int x = 0; x < 2 * q; ++x)
            row[x] = MirroredAcross(mirror[x], false, 2 * q, true, 4 * q);
        }
      },
      minRows);
}

}  // namespace skyfold
