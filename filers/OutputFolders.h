// The folders a name template puts faces in ("{base}/{face}"), made for a
// job under its output folder and removed again unless the job's files are
// placed in them.
#pragma once

#include <string>
#include <vector>

namespace skyfold {

class OutputFolders {
 public:
  OutputFolders() = default;
  // Removes the folders made, deepest first, unless Keep was called; a
  // folder that is not empty stays.
  ~OutputFolders();
  OutputFolders(const OutputFolders&) = delete;
  OutputFolders& operator=(const OutputFolders&) = delete;

  // Makes the missing folders of each path that lie within root; false
  // when one cannot be made (the name check then reports it).
  bool Make(const std::vector<std::string>& paths, const std::string& root);
  void Keep() { made_.clear(); }

 private:
  std::vector<std::string> made_;
};

}  // namespace skyfold
