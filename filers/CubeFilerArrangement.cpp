// TCubeFiler with an arrangement: the names of a preset, layout or name
// template, and the writing of the kept faces once they are all cut.
#include "filers/CubeFiler.h"
#include "filers/FaceSaves.h"

namespace skyfold {

void TCubeFiler::BuildArrangedNames() {
  arrangement_.reset();
  arrangementProblem_.clear();
  arrangedNames_.clear();
  if (GetSceneType() != stCube) return;
  std::optional<Arrangement> arrangement =
      Arrangement::Make(Options.arrangement, arrangementProblem_);
  if (!arrangement || arrangement->IsDesign()) return;
  const TCubeSuffix rule = GetCubeSuffix();
  arrangedNames_ =
      arrangement->Names(GetTextureBasename(), ExtractImageTypeExt(GetExtractImageType()), rule);
  // The cutting reports each face by the name it goes to, or by its label.
  const FacePreset& preset = arrangement->Preset();
  for (int k = 0; k < 6; ++k) {
    const auto d = static_cast<std::size_t>(preset.faces[static_cast<std::size_t>(k)].designFace);
    if (d < FileNames.size()) {
      FileNames[d] = arrangement->Layout() == nullptr ? arrangedNames_[static_cast<std::size_t>(k)]
                                                      : arrangement->FaceLabel(k, rule);
    }
  }
  arrangement_ = std::move(arrangement);
}

std::vector<std::string> TCubeFiler::OutputPaths() const {
  std::vector<std::string> paths;
  if (arrangement_) {
    for (const std::string& name : arrangedNames_) paths.push_back(OutputPath(name));
    return paths;
  }
  for (std::size_t i = 0; i < FileNames.size() && i < 6; ++i)
    paths.push_back(OutputPath(FileNames[i]));
  return paths;
}

void TCubeFiler::SaveArrangedFaces() {
  if (!arrangement_) return;
  RunContext& run = Context();
  std::vector<Bitmap> images = arrangement_->Arrange(cutFaces_, &run.memory());
  // JPEG faces are encoded on the run's workers, as the classic are.
  FaceSaves saves(run);
  const bool background = GetExtractImageType() == eiJpeg && saves.Enabled();
  for (std::size_t i = 0; i < images.size() && i < arrangedNames_.size(); ++i) {
    run.cancel().Check();
    if (arrangement_->Layout() != nullptr) DoProgress(arrangedNames_[i], spAppend);
    const std::string path = OutputPath(arrangedNames_[i]);
    if (background) {
      saves.SaveJpeg(images[i], path);
    } else {
      TSimFiler::SaveImage(images[i], path, static_cast<std::uint8_t>(i));
    }
    images[i] = Bitmap();
  }
  saves.Finish();
}

}  // namespace skyfold
