// Face layouts: six files, or one image holding all six faces in cells of
// the face edge. A strip or grid holds the preset's faces in the preset's
// order and turn; a cross always shows the cube as seen from inside (our own
// faces, so that touching cells agree along their shared edge), whatever
// the preset. Each family lives in its own file and registers here.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "filers/FaceTurn.h"

namespace skyfold {

struct LayoutCell {
  int column = 0, row = 0;  // in face edges
  FaceTurn turn;            // added to the face's own turn
};

struct FaceLayout {
  std::string_view name;
  int columns = 1, rows = 1;  // the image is columns·N × rows·N
  // true: cells[d] holds our face d; false: cells[k] the preset's slot k.
  bool insideView = false;
  std::array<LayoutCell, 6> cells;
};

// The strip and grid family (StripLayouts.cpp) and the crosses
// (CrossLayouts.cpp).
std::vector<FaceLayout> StripLayouts();
std::vector<FaceLayout> CrossLayouts();

// "faces" is not among them: it is six files, no single image.
const std::vector<FaceLayout>& AllLayouts();
const FaceLayout* FindLayout(std::string_view name);
// The layout whose shape an image of width × height has (a whole number of
// equal square cells), or nullptr.
const FaceLayout* LayoutForSize(long long width, long long height);
// "faces, row, column, …" for messages and help.
std::string LayoutNames();

}  // namespace skyfold
