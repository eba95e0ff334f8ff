// Strips and grids: the preset's six faces in its order, left to right then
// top to bottom, untouched.
#include "filers/FaceLayouts.h"

namespace skyfold {

namespace {

FaceLayout Grid(std::string_view name, int columns) {
  FaceLayout layout{name, columns, 6 / columns, false, {}};
  for (int k = 0; k < 6; ++k) layout.cells[k] = LayoutCell{k % columns, k / columns, kNoTurn};
  return layout;
}

}  // namespace

std::vector<FaceLayout> StripLayouts() {
  return {Grid("row", 6), Grid("column", 1), Grid("3x2", 3), Grid("2x3", 2)};
}

}  // namespace skyfold
