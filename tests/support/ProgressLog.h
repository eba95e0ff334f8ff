// Records a filer's progress as lines "<mode digit><text>", so that two
// runs' progress can be compared as plain strings.
#pragma once

#include <string>
#include <vector>

#include "filers/SimFilers.h"

namespace skyfold::test {

inline void RecordProgress(TSimFiler& filer, std::vector<std::string>& lines) {
  filer.OnProgress = [&lines](TSimFiler*, const std::string& text, TSimProgressMode mode) {
    lines.push_back(std::to_string(static_cast<int>(mode)) + text);
  };
}

}  // namespace skyfold::test
