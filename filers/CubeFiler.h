// TCubeFiler: the forward conversion's filer. Adds the face edge, the top
// face's half turn and the left/right name exchange, and replaces the
// validation, the size choice, the saving and the naming of TSimFiler.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filers/FaceArrangement.h"
#include "filers/SimFilers.h"

namespace skyfold {

enum TImageSize : std::uint8_t {
  is64 = 0,
  is128 = 1,
  is256 = 2,
  is512 = 3,
  is1024 = 4,
  is2048 = 5,
  is4096 = 6
};

class TCubeFiler : public TSimFiler {
 public:
  // Source file, output folder (existing) and base name, in that order.
  bool CheckParameters() override;
  // OutputSize = 64 << ImageSize (unchanged for an ordinal above 6).
  void PrepareImageSize() override;
  // Turns the top face (index 4) by 180 degrees when TopRotate, then saves.
  void SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t faceIndex) override;
  // A JPEG face is written as made when no arrangement keeps it and no half
  // turn applies: it may then be encoded a band at a time (JpegResultFile).
  bool WritesJpegAsMade(std::uint8_t faceIndex) const override;
  // The base names, then entries 0 and 2 exchanged when ChangeLeftRight.
  // With an arrangement (Options.arrangement other than the classic six
  // files) FileNames holds, per face, the name it is written under (six
  // files) or its label (one image), and neither exchange nor top turn apply.
  void BuildFileNames() override;

  // The full paths the job writes, in the order they are listed.
  std::vector<std::string> OutputPaths() const;
  // After SaveCubeFaces: writes what an arrangement made of the faces it
  // kept (nothing for the classic six files).
  void SaveArrangedFaces();

  // These setters store on change and do not notify.
  virtual TImageSize GetImageSize() const;
  virtual void SetImageSize(TImageSize value);
  virtual bool GetTopRotate() const;
  virtual void SetTopRotate(bool value);
  virtual bool GetChangeLeftRight() const;
  virtual void SetChangeLeftRight(bool value);

 private:
  bool changeLeftRight_ = false;
  TImageSize imageSize_ = is64;
  bool topRotate_ = false;
  // Set by BuildFileNames when the job has an arrangement.
  std::optional<Arrangement> arrangement_;
  std::string arrangementProblem_;
  std::vector<std::string> arrangedNames_;
  std::array<Bitmap, 6> cutFaces_;

  void BuildArrangedNames();
};

}  // namespace skyfold
