// The registry of single-image layouts: one line per family.
#include "filers/FaceLayouts.h"

namespace skyfold {

namespace {

std::vector<FaceLayout> MakeLayouts() {
  std::vector<FaceLayout> all = StripLayouts();
  for (FaceLayout& layout : CrossLayouts()) all.push_back(layout);
  return all;
}

}  // namespace

const std::vector<FaceLayout>& AllLayouts() {
  static const std::vector<FaceLayout> layouts = MakeLayouts();
  return layouts;
}

const FaceLayout* FindLayout(std::string_view name) {
  for (const FaceLayout& layout : AllLayouts()) {
    if (layout.name == name) return &layout;
  }
  return nullptr;
}

const FaceLayout* LayoutForSize(long long width, long long height) {
  for (const FaceLayout& layout : AllLayouts()) {
    if (width <= 0 || width % layout.columns != 0) continue;
    const long long edge = width / layout.columns;
    if (edge * layout.rows == height) return &layout;
  }
  return nullptr;
}

std::string LayoutNames() {
  std::string names = "faces";
  for (const FaceLayout& layout : AllLayouts()) names += ", " + std::string(layout.name);
  return names;
}

}  // namespace skyfold
