#include "cli/ArrangementOptions.h"

#include <string>
#include <vector>

#include "filers/FaceArrangement.h"

namespace skyfold::cli {

void AddArrangementOptions(CLI::App* command, FaceArrangement& arrangement, bool inverse) {
  std::vector<std::string> presets;
  for (const FacePreset& preset : AllPresets()) presets.emplace_back(preset.name);
  std::vector<std::string> layouts{"faces"};
  for (const FaceLayout& layout : AllLayouts()) layouts.emplace_back(layout.name);
  command
      ->add_option("--preset", arrangement.preset,
                   inverse ? "the faces' order, names and turn to read (default design)"
                           : "the faces' order, names and turn for a consumer (default design)")
      ->check(CLI::IsMember(presets));
  command
      ->add_option("--layout", arrangement.layout,
                   inverse ? "faces: six files (default); or one image of six faces in this "
                             "layout (without it, one image's layout is found by its shape)"
                           : "faces: six files (default); or one image BASE_LAYOUT.EXT")
      ->check(CLI::IsMember(layouts));
  command->add_option("--name", arrangement.nameTemplate,
                      "face names from a template with {base} and {face}, e.g. '{base}/{face}'");
}

void CheckArrangement(const FaceArrangement& arrangement) {
  std::string problem;
  if (!Arrangement::Make(arrangement, problem)) throw CLI::ValidationError("--name", problem);
}

bool IsDesignArrangement(const FaceArrangement& arrangement) {
  return arrangement.preset == "design" && arrangement.layout == "faces" &&
         arrangement.nameTemplate.empty();
}

}  // namespace skyfold::cli
