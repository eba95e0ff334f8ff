#include "filers/OutputFolders.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace skyfold {

namespace fs = std::filesystem;

OutputFolders::~OutputFolders() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    std::error_code ignored;
    fs::remove(*it, ignored);  // only an empty folder goes
  }
}

bool OutputFolders::Make(const std::vector<std::string>& paths, const std::string& root) {
  std::error_code error;
  const fs::path top = fs::weakly_canonical(root.empty() ? fs::path(".") : fs::path(root), error);
  if (error) return false;
  for (const std::string& path : paths) {
    const fs::path folder = fs::weakly_canonical(fs::path(path), error).parent_path();
    if (error) return false;
    // Only folders below the output folder are made ("{base}/../x" is not).
    const auto [end, unused] = std::mismatch(top.begin(), top.end(), folder.begin(), folder.end());
    if (end != top.end()) continue;
    std::vector<fs::path> missing;
    for (fs::path at = folder; at != top && !fs::exists(at, error); at = at.parent_path()) {
      missing.push_back(at);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (!fs::create_directory(*it, error)) return false;
      made_.push_back(it->string());
    }
  }
  return true;
}

}  // namespace skyfold
