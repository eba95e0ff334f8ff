#include "filers/MappingTable.h"

#include <new>

#include "imaging/Errors.h"

namespace skyfold {

void TmxCurrencyUV::SetSize(int columns, int rows) {
  if (columns < 0 || rows < 0) throw ArgumentError("Invalid mapping table size.");
  const std::size_t count = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
  try {
    memory_ = AllocatePixelMemory(count * sizeof(PackedUV));
  } catch (const std::bad_alloc&) {
    throw MemoryError("Out of memory");
  }
  columns_ = columns;
  rows_ = rows;
}

TCurrencyUV TmxCurrencyUV::Get(int column, int row) const {
  const PackedUV& p = Row(row)[column];
  return TCurrencyUV{p.U, Currency::FromRaw(p.UFrac), p.V, Currency::FromRaw(p.VFrac)};
}

void TmxCurrencyUV::Set(int column, int row, const TCurrencyUV& e) {
  Row(row)[column] = PackedUV{static_cast<std::int16_t>(e.U), static_cast<std::int16_t>(e.UFrac.raw),
                              static_cast<std::int16_t>(e.V), static_cast<std::int16_t>(e.VFrac.raw)};
}

}  // namespace skyfold
