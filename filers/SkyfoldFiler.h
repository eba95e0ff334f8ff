// TSkyfoldFiler: the forward facade. Its getters read the bound controls
// live; its setters set the control (when bound), then the stored value. The
// output folder exists only in DataFolderEdit.
#pragma once

#include "filers/CubeFiler.h"
#include "filers/FilerControls.h"

namespace skyfold {

class TSkyfoldFiler : public TCubeFiler {
 public:
  // Not owned; set right after construction, never changed afterwards.
  IEditControl* DataFolderEdit = nullptr;
  IEditControl* ImageFileNameEdit = nullptr;
  IEditControl* TextureBasenameEdit = nullptr;
  IRadioGroupControl* CubeSuffixGroup = nullptr;
  IRadioGroupControl* ExtractImageTypeGroup = nullptr;
  IRadioGroupControl* ImageSizeGroup = nullptr;
  ICheckBoxControl* TopRotateCheckBox = nullptr;
  ICheckBoxControl* ChangeLeftRightCheckBox = nullptr;

  TCubeSuffix GetCubeSuffix() const override;
  void SetCubeSuffix(TCubeSuffix value) override;
  TExtractImageType GetExtractImageType() const override;
  void SetExtractImageType(TExtractImageType value) override;
  std::string GetImageFileName() const override;
  void SetImageFileName(const std::string& value) override;
  std::string GetTextureBasename() const override;
  void SetTextureBasename(const std::string& value) override;
  std::string GetSceneFolder() const override;
  TImageSize GetImageSize() const override;
  void SetImageSize(TImageSize value) override;
  bool GetTopRotate() const override;
  void SetTopRotate(bool value) override;
  bool GetChangeLeftRight() const override;
  void SetChangeLeftRight(bool value) override;
};

}  // namespace skyfold
