// TPanoFiler with an arrangement: the six files a preset or name template
// names, found from any one of them, or one image of all six faces whose
// layout is given or found by its shape; read, then turned back into our
// six faces exactly, so the unfolding and the warp are the classic.
#include <exception>

#include "filers/PanoFiler.h"
#include "imaging/ImageProbe.h"
#include "imaging/PathUtils.h"
#include "imaging/Raster.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

bool TPanoFiler::CheckArrangedSource() {
  source_.reset();
  std::string problem;
  std::optional<Arrangement> arrangement = Arrangement::Make(Options.arrangement, problem);
  if (!arrangement) {
    ShowErrorMessage(problem);
    return false;
  }
  const std::string name = GetCubeImageFileName();
  if (arrangement->Layout() != nullptr) {
    source_ = ArrangedSource{*arrangement, {name}, false, 0, 0};
    return true;
  }
  TCubeSuffix rule = csLeft;
  if (const std::optional<std::string> base = arrangement->BaseOf(name, rule)) {
    SetCubeSuffix(rule);
    source_ = ArrangedSource{*arrangement, arrangement->Names(*base, ExtractFileExt(name), rule),
                             false, 0, 0};
    return true;
  }
  return SingleImageSource(*arrangement, false);
}

bool TPanoFiler::SingleImageSource(const Arrangement& arrangement, bool quiet) {
  const std::string name = GetCubeImageFileName();
  ImageHeader header;
  try {
    header = ProbeImageFile(name);
  } catch (const std::exception& e) {
    if (!quiet) ShowErrorMessage(e.what());
    return false;
  }
  const FaceLayout* layout = LayoutForSize(header.width, header.height);
  if (layout == nullptr) {
    if (!quiet) {
      ShowErrorMessage(name + ": neither a face name of preset \"" +
                       std::string(arrangement.Preset().name) + "\" nor one image of six faces (" +
                       std::to_string(header.width) + " × " + std::to_string(header.height) +
                       " fits none of 6:1 row, 1:6 column, 3:2 3x2, 2:3 2x3, 4:3 hcross, "
                       "3:4 vcross)");
    }
    return false;
  }
  FaceArrangement options = Options.arrangement;
  options.layout = std::string(layout->name);
  std::string problem;
  std::optional<Arrangement> single = Arrangement::Make(options, problem);
  if (!single) return false;
  source_ = ArrangedSource{*single, {name}, true, header.width, header.height};
  return true;
}

void TPanoFiler::BuildArrangedFileNames() {
  FileNames.assign(6, source_->inputs.front());
  if (source_->arrangement.Layout() != nullptr) return;
  const FacePreset& preset = source_->arrangement.Preset();
  for (std::size_t k = 0; k < 6 && k < source_->inputs.size(); ++k) {
    FileNames[static_cast<std::size_t>(preset.faces[k].designFace)] = source_->inputs[k];
  }
}

bool TPanoFiler::LoadArrangedFaces() {
  provided_ = false;
  if (!source_) return true;
  // Every file is checked before any is read.
  if (!FaceFilesReadable(source_->inputs)) return false;
  const FaceLayout* layout = source_->arrangement.Layout();
  if (layout != nullptr) {
    DoProgress("layout: " + std::string(layout->name) +
                   (source_->detected ? " (from its size, " + std::to_string(source_->width) +
                                            " × " + std::to_string(source_->height) + ")"
                                      : std::string()),
               spAppend);
  }
  RunContext& run = Context();
  std::vector<Bitmap> images;
  for (const std::string& name : source_->inputs) {
    run.cancel().Check();
    DoProgress("読み込んでいます。　" + ExtractFileName(name), spAppend);
    Bitmap image(&run.memory());
    if (!LoadImageFile(image, name, nullptr, run.decode())) {
      ShowErrorMessage("Cube 画像ファイルがありません。\n" + ExpandFileName(name));
      return false;
    }
    ConvertToBgr24(image);
    images.push_back(std::move(image));
  }
  std::string problem;
  std::optional<std::array<Bitmap, 6>> faces =
      source_->arrangement.Unarrange(images, &run.memory(), problem);
  if (!faces) {
    ShowErrorMessage(source_->inputs.front() + ": " + problem);
    return false;
  }
  providedFaces_ = std::move(*faces);
  provided_ = true;
  return true;
}

bool TPanoFiler::TakeProvidedFaces(std::array<Bitmap, 6>& faces) {
  if (!provided_) return false;
  faces = std::move(providedFaces_);
  provided_ = false;
  return true;
}

}  // namespace skyfold
