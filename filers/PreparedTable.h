// The mapping table TSimFiler builds ahead of the warp on a helper thread,
// and the capture of the progress that build reports.
#pragma once

#include <future>
#include <string>
#include <utility>
#include <vector>

#include "filers/SimFilers.h"

namespace skyfold {

using ProgressRecord = std::pair<std::string, TSimProgressMode>;

// While one lives, DoProgress calls made on its thread are recorded into
// `into` instead of being reported.
class ProgressCapture {
 public:
  explicit ProgressCapture(std::vector<ProgressRecord>& into);
  ~ProgressCapture();
  ProgressCapture(const ProgressCapture&) = delete;
  ProgressCapture& operator=(const ProgressCapture&) = delete;

  // The record of the calling thread, or null when it reports normally.
  static std::vector<ProgressRecord>* Current();

 private:
  std::vector<ProgressRecord>* previous_;
};

struct TSimFiler::PreparedTable {
  int quarterUnit = 0;
  TmxCurrencyUV table;
  std::vector<ProgressRecord> progress;
  std::future<void> built;  // declared last: waited for before the rest goes

  ~PreparedTable() {
    if (built.valid()) built.wait();
  }
};

}  // namespace skyfold
