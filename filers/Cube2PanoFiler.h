// TCube2PanoFiler: the inverse facade. A property is bound when its control
// reference is set: bound getters read the control, unbound ones the stored
// value (ExtractImageType too).
#pragma once

#include "filers/FilerControls.h"
#include "filers/PanoFiler.h"

namespace skyfold {

class TCube2PanoFiler : public TPanoFiler {
 public:
  IEditControl* CubeImageFileNameEdit = nullptr;
  IEditControl* ImageFileNameEdit = nullptr;
  IRadioGroupControl* PanoImageSizeGroup = nullptr;
  IRadioGroupControl* ExtractImageTypeGroup = nullptr;

  TExtractImageType GetExtractImageType() const override;
  void SetExtractImageType(TExtractImageType value) override;
  std::string GetImageFileName() const override;
  void SetImageFileName(const std::string& value) override;
  std::string GetCubeImageFileName() const override;
  void SetCubeImageFileName(const std::string& value) override;
  TPanoImageSize GetPanoImageSize() const override;
  void SetPanoImageSize(TPanoImageSize value) override;
};

}  // namespace skyfold
