// Face presets: the six faces in the order, names and turn a consumer
// loads them with. Every preset is an exact reorder, turn and mirror of our
// own six faces (left, front, right, back, top, bottom: seen from inside,
// upright, the top face touching the front along its bottom edge and the
// bottom face along its top edge), so applying one and undoing it is lossless.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "filers/FaceTurn.h"

namespace skyfold {

struct PresetFace {
  int designFace;  // TFaceIndex of the face this slot shows
  FaceTurn turn;   // how that face is turned in the slot
};

struct FacePreset {
  std::string_view name;
  // With the underscore; "design" takes its suffixes from the naming rule.
  std::array<std::string_view, 6> suffixes;
  std::array<PresetFace, 6> faces;  // in the preset's order
};

// The preset of that name, or nullptr.
const FacePreset* FindPreset(std::string_view name);
// Every preset, "design" first.
const std::vector<FacePreset>& AllPresets();
bool IsDesignPreset(const FacePreset& preset);

}  // namespace skyfold
