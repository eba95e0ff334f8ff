// The folding crosses, cut out of the cube as seen from inside: left, front,
// right (and back) side by side, the top face above the front and the
// bottom face below it, each as we cut it. In the vertical cross the back
// face hangs below the bottom face, so it is turned by half a turn for its
// bottom edge to meet the bottom face's.
#include "filers/FaceLayouts.h"
#include "filers/SimFilers.h"

namespace skyfold {

std::vector<FaceLayout> CrossLayouts() {
  constexpr FaceTurn kHalf{2, false};
  FaceLayout hcross{"hcross", 4, 3, true, {}};
  hcross.cells[fiLeft] = {0, 1, kNoTurn};
  hcross.cells[fiFront] = {1, 1, kNoTurn};
  hcross.cells[fiRight] = {2, 1, kNoTurn};
  hcross.cells[fiBack] = {3, 1, kNoTurn};
  hcross.cells[fiTop] = {1, 0, kNoTurn};
  hcross.cells[fiBottom] = {1, 2, kNoTurn};
  FaceLayout vcross{"vcross", 3, 4, true, {}};
  vcross.cells[fiLeft] = {0, 1, kNoTurn};
  vcross.cells[fiFront] = {1, 1, kNoTurn};
  vcross.cells[fiRight] = {2, 1, kNoTurn};
  vcross.cells[fiTop] = {1, 0, kNoTurn};
  vcross.cells[fiBottom] = {1, 2, kNoTurn};
  vcross.cells[fiBack] = {1, 3, kHalf};
  return {hcross, vcross};
}

}  // namespace skyfold
