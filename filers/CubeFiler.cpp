// TCubeFiler: validation, face edge, top-face half turn and the left/right
// name exchange of the forward conversion.
#include "filers/CubeFiler.h"

#include <utility>

#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

bool TCubeFiler::CheckParameters() {
  if (!CheckImageFileName()) return false;
  const std::string folder = GetSceneFolder();
  if (folder.empty()) {
    ShowErrorMessage("出力先が指定されていません。");
    return false;
  }
  if (!DirectoryExists(folder)) {
    ShowErrorMessage("出力先フォルダがありません。");
    return false;
  }
  if (GetTextureBasename().empty()) {
    ShowErrorMessage("出力画像の基本名：が指定されていません。");
    return false;
  }
  if (!arrangementProblem_.empty()) {
    ShowErrorMessage(arrangementProblem_);
    return false;
  }
  return true;
}

void TCubeFiler::PrepareImageSize() {
  const int ordinal = GetImageSize();
  if (ordinal <= is4096) OutputSize = 64 << ordinal;
}

void TCubeFiler::SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t faceIndex) {
  if (arrangement_ && faceIndex < cutFaces_.size()) {
    // Kept as cut; SaveArrangedFaces writes them once all six are there.
    Bitmap kept(bitmap.pool());
    kept.swap(bitmap);
    cutFaces_[faceIndex] = std::move(kept);
    return;
  }
  if (GetTopRotate() && faceIndex == fiTop) RotateBitmap180(bitmap, Context().workers());
  TSimFiler::SaveImage(bitmap, fileName, faceIndex);
}

bool TCubeFiler::WritesJpegAsMade(std::uint8_t faceIndex) const {
  return GetExtractImageType() == eiJpeg && !arrangement_ &&
         !(GetTopRotate() && faceIndex == fiTop);
}

void TCubeFiler::BuildFileNames() {
  TSimFiler::BuildFileNames();
  BuildArrangedNames();
  if (arrangement_) return;
  // Only the names move: face 0 (the left view) is still cut from the left
  // part of the panorama and is written under the right face's name.
  if (GetChangeLeftRight() && FileNames.size() > 2) std::swap(FileNames[0], FileNames[2]);
}

TImageSize TCubeFiler::GetImageSize() const { return imageSize_; }
void TCubeFiler::SetImageSize(TImageSize value) { imageSize_ = value; }
bool TCubeFiler::GetTopRotate() const { return topRotate_; }
void TCubeFiler::SetTopRotate(bool value) { topRotate_ = value; }
bool TCubeFiler::GetChangeLeftRight() const { return changeLeftRight_; }
void TCubeFiler::SetChangeLeftRight(bool value) { changeLeftRight_ = value; }

}  // namespace skyfold
