// TPanoFiler: properties, validation, naming-rule detection and face names
// of the inverse conversion. The face loading lives in CubeFaceLoading.cpp,
// the mapping table in InverseTable.cpp.
//
// The chosen face name decides everything: the text after its last
// underscore (extension removed) selects the suffix rule, and the text before
// that underscore, taken from the whole name, is the base of all six names.
#include "filers/PanoFiler.h"

#include <cstddef>
#include <string_view>

#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold {

// UTF-8 never puts an ASCII byte inside a multi-byte character, so a plain
// byte scan finds exactly the real underscores.
bool ContainsUnderscore(const std::string& s) { return s.find('_') != std::string::npos; }

int LastUnderscorePos(const std::string& s) {
  const std::size_t pos = s.rfind('_');
  return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

std::string TextBeforeLastUnderscore(const std::string& s) {
  const int pos = LastUnderscorePos(s);
  return pos == 0 ? std::string() : s.substr(0, static_cast<std::size_t>(pos) - 1);
}

std::string TextAfterLastUnderscore(const std::string& s) {
  const int pos = LastUnderscorePos(s);
  return pos == 0 ? std::string() : s.substr(static_cast<std::size_t>(pos));
}

// ---- properties ----

std::string TPanoFiler::GetCubeImageFileName() const { return cubeImageFileName_; }
void TPanoFiler::SetCubeImageFileName(const std::string& value) {
  if (cubeImageFileName_ != value) cubeImageFileName_ = value;
}

TPanoImageSize TPanoFiler::GetPanoImageSize() const { return panoImageSize_; }
void TPanoFiler::SetPanoImageSize(TPanoImageSize value) {
  if (panoImageSize_ != value) panoImageSize_ = value;
}

// ---- the job ----

bool TPanoFiler::DetectCubeSuffix() {
  const std::string name = GetCubeImageFileName();
  const std::string ext = ExtractFileExt(name);
  // The whole path is searched, so an underscore in a folder name counts
  // when the file name has none.
  const std::string tail = TextAfterLastUnderscore(name.substr(0, name.size() - ext.size()));
  if (tail.empty()) return false;
  const char first = tail[0];
  if (tail.size() == 1) {
    if (first < '0' || first > '5') return false;
    SetCubeSuffix(csZero);
    return true;
  }
  // Only the first letter counts: "_Lake" and "_l2" name the left face too.
  if (std::string_view("BFLRTbflrt").find(first) == std::string_view::npos) return false;
  SetCubeSuffix(csLeft);
  return true;
}

bool TPanoFiler::CheckParameters() {
  if (GetImageFileName().empty()) {
    ShowErrorMessage("画像ファイル名：が指定されていません。");
    return false;
  }
  if (GetCubeImageFileName().empty()) {
    ShowErrorMessage("Cube 画像ファイル名：が指定されていません。");
    return false;
  }
  if (Options.arrangement.preset != "design" || Options.arrangement.layout != "faces" ||
      !Options.arrangement.nameTemplate.empty()) {
    return CheckArrangedSource();
  }
  source_.reset();
  std::string problem;
  const std::optional<Arrangement> design = Arrangement::Make(Options.arrangement, problem);
  // "pano_row.jpg" would name a right face by its first letter: a layout's
  // own suffix on an image of that layout's shape is that image.
  const std::string name = GetCubeImageFileName();
  const std::string tail =
      TextAfterLastUnderscore(name.substr(0, name.size() - ExtractFileExt(name).size()));
  if (design && FindLayout(tail) != nullptr && SingleImageSource(*design, true) &&
      source_->arrangement.Layout()->name == tail) {
    return true;
  }
  source_.reset();
  if (DetectCubeSuffix()) return true;
  // A name without a face suffix may still be one image of all six faces.
  if (design && SingleImageSource(*design, true)) return true;
  ShowErrorMessage("Cube 画像ファイル名：が適切ではありません。");
  return false;
}

void TPanoFiler::PrepareImageSize() {
  const int size = GetPanoImageSize();
  if (size >= ps256 && size <= ps16384) OutputSize = 256 << size;
}

void TPanoFiler::BuildFileNames() {
  if (source_) {
    BuildArrangedFileNames();
    return;
  }
  const std::string name = GetCubeImageFileName();
  // The base is cut from the whole name, extension included; the extension
  // is appended again exactly as typed.
  const std::string base = TextBeforeLastUnderscore(name);
  const std::string ext = ExtractFileExt(name);
  const TCubeSuffix rule = GetCubeSuffix();
  FileNames.clear();
  for (int d = 0; d < 6; ++d) FileNames.push_back(base + CubeFaceSuffix(rule, d) + ext);
}

}  // namespace skyfold
