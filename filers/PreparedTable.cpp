#include "filers/PreparedTable.h"

#include <exception>
#include <memory>
#include <system_error>

#include "imaging/Parallel.h"

namespace skyfold {

namespace {

thread_local std::vector<ProgressRecord>* t_capture = nullptr;

}  // namespace

ProgressCapture::ProgressCapture(std::vector<ProgressRecord>& into) : previous_(t_capture) {
  t_capture = &into;
}

ProgressCapture::~ProgressCapture() { t_capture = previous_; }

std::vector<ProgressRecord>* ProgressCapture::Current() { return t_capture; }

void TSimFiler::PrepareMappingTable(int quarterUnit) {
  DropPreparedTable();
  if (quarterUnit < 0) return;
  auto prepared = std::make_unique<PreparedTable>();
  prepared->quarterUnit = quarterUnit;
  PreparedTable* p = prepared.get();
  try {
    p->built = std::async(std::launch::async, [this, p, quarterUnit] {
      ProgressCapture capture(p->progress);
      SerialSection serial;
      p->table.SetSizeMirrored(2 * quarterUnit, 4 * quarterUnit);
      BuildMappingTable(quarterUnit, p->table);
    });
  } catch (const std::system_error&) {
    return;  // no thread to spare: WarpImage builds the table itself
  }
  preparedTable_ = std::move(prepared);
}

void TSimFiler::DropPreparedTable() { preparedTable_.reset(); }

bool TSimFiler::TakePreparedTable(int quarterUnit, TmxCurrencyUV& table) {
  if (!preparedTable_) return false;
  const std::unique_ptr<PreparedTable> prepared = std::move(preparedTable_);
  try {
    prepared->built.get();
  } catch (...) {
    // Built beside the decoder, it may have failed where building now, after
    // it, succeeds (memory); the caller builds it again and reports its own.
    return false;
  }
  if (prepared->quarterUnit != quarterUnit) return false;
  for (const auto& [text, mode] : prepared->progress) DoProgress(text, mode);
  table = std::move(prepared->table);
  return true;
}

void TSimFiler::ObtainMappingTable(int quarterUnit, TmxCurrencyUV& table) {
  if (TakePreparedTable(quarterUnit, table)) return;
  table.SetSizeMirrored(2 * quarterUnit, 4 * quarterUnit);
  BuildMappingTable(quarterUnit, table);
}

}  // namespace skyfold
