// TCube2PanoFiler: the four properties the window binds. A bound getter reads
// the control at the moment of the call; an unbound one the stored value.
#include "filers/Cube2PanoFiler.h"

#include <cstdint>

namespace skyfold {

namespace {

// Radio groups hold the ordinal; "no selection" (−1) travels as 255, which
// every consumer treats as out of range.
std::uint8_t ItemOrdinal(const IRadioGroupControl& group) {
  return static_cast<std::uint8_t>(group.GetItemIndex());
}

}  // namespace

TExtractImageType TCube2PanoFiler::GetExtractImageType() const {
  if (ExtractImageTypeGroup)
    return static_cast<TExtractImageType>(ItemOrdinal(*ExtractImageTypeGroup));
  return TPanoFiler::GetExtractImageType();
}

void TCube2PanoFiler::SetExtractImageType(TExtractImageType value) {
  if (ExtractImageTypeGroup) ExtractImageTypeGroup->SetItemIndex(static_cast<std::uint8_t>(value));
  TPanoFiler::SetExtractImageType(value);
}

std::string TCube2PanoFiler::GetImageFileName() const {
  if (ImageFileNameEdit) return ImageFileNameEdit->GetText();
  return TPanoFiler::GetImageFileName();
}

void TCube2PanoFiler::SetImageFileName(const std::string& value) {
  if (ImageFileNameEdit) {
    ImageFileNameEdit->SetText(value);
    return;
  }
  TPanoFiler::SetImageFileName(value);
}

std::string TCube2PanoFiler::GetCubeImageFileName() const {
  if (CubeImageFileNameEdit) return CubeImageFileNameEdit->GetText();
  return TPanoFiler::GetCubeImageFileName();
}

void TCube2PanoFiler::SetCubeImageFileName(const std::string& value) {
  if (CubeImageFileNameEdit) {
    CubeImageFileNameEdit->SetText(value);
    return;
  }
  TPanoFiler::SetCubeImageFileName(value);
}

TPanoImageSize TCube2PanoFiler::GetPanoImageSize() const {
  if (PanoImageSizeGroup) return static_cast<TPanoImageSize>(ItemOrdinal(*PanoImageSizeGroup));
  return TPanoFiler::GetPanoImageSize();
}

void TCube2PanoFiler::SetPanoImageSize(TPanoImageSize value) {
  if (PanoImageSizeGroup) PanoImageSizeGroup->SetItemIndex(static_cast<std::uint8_t>(value));
  TPanoFiler::SetPanoImageSize(value);
}

}  // namespace skyfold
