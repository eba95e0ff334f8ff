// TSkyfoldFiler: every property read from its bound control at the moment
// of the call. Setters set the control first (radio groups get the ordinal
// as an unsigned byte and keep it within their items), then the stored
// value. An unbound control falls back to the stored value.
#include "filers/SkyfoldFiler.h"

#include <cstdint>

namespace skyfold {

namespace {

// Radio groups take the ordinal as an unsigned byte.
int ItemIndexByte(std::uint8_t ordinal) { return ordinal; }

}  // namespace

TCubeSuffix TSkyfoldFiler::GetCubeSuffix() const {
  if (!CubeSuffixGroup) return TCubeFiler::GetCubeSuffix();
  return static_cast<TCubeSuffix>(CubeSuffixGroup->GetItemIndex());
}

void TSkyfoldFiler::SetCubeSuffix(TCubeSuffix value) {
  if (CubeSuffixGroup) CubeSuffixGroup->SetItemIndex(ItemIndexByte(value));
  TCubeFiler::SetCubeSuffix(value);
}

TExtractImageType TSkyfoldFiler::GetExtractImageType() const {
  if (!ExtractImageTypeGroup) return TCubeFiler::GetExtractImageType();
  return static_cast<TExtractImageType>(ExtractImageTypeGroup->GetItemIndex());
}

void TSkyfoldFiler::SetExtractImageType(TExtractImageType value) {
  if (ExtractImageTypeGroup) ExtractImageTypeGroup->SetItemIndex(ItemIndexByte(value));
  TCubeFiler::SetExtractImageType(value);
}

std::string TSkyfoldFiler::GetImageFileName() const {
  if (!ImageFileNameEdit) return TCubeFiler::GetImageFileName();
  return ImageFileNameEdit->GetText();
}

void TSkyfoldFiler::SetImageFileName(const std::string& value) {
  if (ImageFileNameEdit) ImageFileNameEdit->SetText(value);
  TCubeFiler::SetImageFileName(value);
}

std::string TSkyfoldFiler::GetTextureBasename() const {
  if (!TextureBasenameEdit) return TCubeFiler::GetTextureBasename();
  return TextureBasenameEdit->GetText();
}

void TSkyfoldFiler::SetTextureBasename(const std::string& value) {
  if (TextureBasenameEdit) TextureBasenameEdit->SetText(value);
  TCubeFiler::SetTextureBasename(value);
}

std::string TSkyfoldFiler::GetSceneFolder() const {
  if (!DataFolderEdit) return TCubeFiler::GetSceneFolder();
  return DataFolderEdit->GetText();
}

TImageSize TSkyfoldFiler::GetImageSize() const {
  if (!ImageSizeGroup) return TCubeFiler::GetImageSize();
  return static_cast<TImageSize>(ImageSizeGroup->GetItemIndex());
}

void TSkyfoldFiler::SetImageSize(TImageSize value) {
  if (ImageSizeGroup) ImageSizeGroup->SetItemIndex(ItemIndexByte(value));
  TCubeFiler::SetImageSize(value);
}

bool TSkyfoldFiler::GetTopRotate() const {
  if (!TopRotateCheckBox) return TCubeFiler::GetTopRotate();
  return TopRotateCheckBox->GetChecked();
}

void TSkyfoldFiler::SetTopRotate(bool value) {
  if (TopRotateCheckBox) TopRotateCheckBox->SetChecked(value);
  TCubeFiler::SetTopRotate(value);
}

bool TSkyfoldFiler::GetChangeLeftRight() const {
  if (!ChangeLeftRightCheckBox) return TCubeFiler::GetChangeLeftRight();
  return ChangeLeftRightCheckBox->GetChecked();
}

void TSkyfoldFiler::SetChangeLeftRight(bool value) {
  if (ChangeLeftRightCheckBox) ChangeLeftRightCheckBox->SetChecked(value);
  TCubeFiler::SetChangeLeftRight(value);
}

}  // namespace skyfold
