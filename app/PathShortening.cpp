// Path shortening: split the path into drive (Windows only), directory part
// and name, then drop directories from the left until the text fits.
#include "app/PathShortening.h"

#include "imaging/PathUtils.h"

namespace skyfold {

namespace {

const std::string kMarker = std::string("...") + kPathDelimiter;

// Index just past the last byte that ends a directory part (0 when none).
std::size_t DirectoryPartLength(const std::string& fileName) {
  for (std::size_t i = fileName.size(); i > 0; --i) {
    const char c = fileName[i - 1];
#ifdef _WIN32
    if (c == '\\' || c == '/' || c == ':') return i;
#else
    if (c == kPathDelimiter) return i;
#endif
  }
  return 0;
}

}  // namespace

void DropFirstDirectory(std::string& dir) {
  if (dir.size() == 1 && dir[0] == kPathDelimiter) {
    dir.clear();
    return;
  }
  const bool rooted = !dir.empty() && dir[0] == kPathDelimiter;
  if (rooted) dir.erase(0, 1);
  // A leading '.' is taken for the marker of an earlier step (a relative
  // "../x/" loses its "../x" here and keeps its place as ".../").
  if (!dir.empty() && dir[0] == '.') dir.erase(0, 4);
  const std::size_t delimiter = dir.find(kPathDelimiter);
  if (delimiter != std::string::npos) {
    dir = kMarker + dir.substr(delimiter + 1);
  } else {
    dir.clear();
  }
  if (rooted) dir.insert(dir.begin(), kPathDelimiter);
}

std::string ShortenPathForDisplay(const std::string& fileName, const TMeasureWidth& measureWidth,
                                  int maxWidth) {
  std::string result = fileName;
  const std::size_t dirLength = DirectoryPartLength(fileName);
  std::string dir = fileName.substr(0, dirLength);
  const std::string name = fileName.substr(dirLength);
  std::string drive;
#ifdef _WIN32
  if (dir.size() >= 2 && dir[1] == ':') {
    drive = dir.substr(0, 2);
    dir.erase(0, 2);
  }
#endif
  const std::string rootedMarker = kPathDelimiter + kMarker;
  // Emptiness first: a bare name is never measured.
  while ((!dir.empty() || !drive.empty()) && measureWidth(result) > maxWidth) {
    if (dir == rootedMarker) {
      drive.clear();
      dir = kMarker;
    } else if (dir.empty()) {
      drive.clear();
    } else {
      DropFirstDirectory(dir);
    }
    result = drive + dir + name;
  }
  return result;
}

}  // namespace skyfold
