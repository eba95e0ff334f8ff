// TPanoFiler: the inverse conversion's filer. From one chosen face file it
// detects the naming rule, derives the six face names, unfolds the six faces
// into one W × W/2 intermediate bitmap, and supplies the inverse mapping
// table to the shared warp. ImageFileName is the output panorama here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filers/FaceArrangement.h"
#include "filers/SimFilers.h"

namespace skyfold {

enum TPanoImageSize : std::uint8_t {
  ps256 = 0,
  ps512 = 1,
  ps1024 = 2,
  ps2048 = 3,
  ps4096 = 4,
  ps8192 = 5,
  ps16384 = 6
};

// The underscore scan (UTF-8: a byte of a multi-byte character is never '_').
bool ContainsUnderscore(const std::string& s);
int LastUnderscorePos(const std::string& s);  // 1-based, 0 when none
std::string TextBeforeLastUnderscore(const std::string& s);
std::string TextAfterLastUnderscore(const std::string& s);

// The inverse table of quarter unit q into a mirrored 2q × 4q table.
void BuildInverseTable(int q, TmxCurrencyUV& table, const TableBuild& build);

// Whether every name is a file the loader will read; otherwise shows why
// (not a file, missing, an unknown kind) for the first that is not.
bool FaceFilesReadable(const std::vector<std::string>& names);

class TPanoFiler : public TSimFiler {
 public:
  TPanoFiler() = default;
  TPanoFiler(const TPanoFiler&) = delete;
  TPanoFiler& operator=(const TPanoFiler&) = delete;

  // Output name, chosen face name, suffix rule, in that order.
  bool CheckParameters() override;
  // OutputSize = 256 << PanoImageSize (unchanged outside 0 … 6).
  void PrepareImageSize() override;
  void BuildMappingTable(int quarterUnit, TmxCurrencyUV& table) override;
  MappingTableBuilder TableBuilder() const override;
  // The six face names derived from CubeImageFileName.
  void BuildFileNames() override;

  // These setters store on change and do not notify.
  virtual std::string GetCubeImageFileName() const;
  virtual void SetCubeImageFileName(const std::string& value);
  virtual TPanoImageSize GetPanoImageSize() const;
  virtual void SetPanoImageSize(TPanoImageSize value);

  bool DetectCubeSuffix();
  // Unfolds the six faces named in FileNames into bitmap (OutputSize wide).
  // Returns false after one message when the check fails or a face file is
  // missing or of a kind the loader does not accept. Every face is checked
  // before any is loaded (the bitmap is then unchanged), so a panorama is
  // never built from a stale or blank cell.
  bool LoadCubeFaces(Bitmap& bitmap);
  // Before LoadCubeFaces: the images of an arrangement (Options.arrangement,
  // or one image that holds all six faces), read and turned back into our
  // six faces for it. True with nothing done for the classic six files;
  // false after one message.
  bool LoadArrangedFaces();
  // Moves the faces LoadArrangedFaces read into faces (classic order); false
  // when it read none (the six files are read by name).
  bool TakeProvidedFaces(std::array<Bitmap, 6>& faces);

  // Reads the chosen face's metadata for the panorama (ResultMetadata), with
  // GPano XMP describing the panorama of OutputSize (SetResultPanoramaSize
  // corrects it for another size).
  void PrepareResultMetadata();
  // True when the output type holds deeper samples or alpha and the chosen
  // face has them (its header says so): the faces then go through
  // ConvertDeepFaces instead of LoadCubeFaces and the classic warp.
  bool UsesDeepFaces();
  // Loads the six faces keeping their depth, samples the panorama of
  // OutputSize straight from them and saves it to output at the faces'
  // depth. False after one message, as LoadCubeFaces.
  bool ConvertDeepFaces(const std::string& output);
  // The six faces (of an arranged source too) loaded at their depth, in the
  // working format of the deepest (DeepCube.h), which `deepest` tells.
  // False after one message.
  bool LoadDeepFaces(std::vector<Bitmap>& faces, PixelFormat& deepest);
  // A panorama sampled from faces as deep as `deepest`, brought to what the
  // output type holds (said on the console when that loses) and saved.
  void SaveDeepPanorama(Bitmap& panorama, PixelFormat deepest, const std::string& output);
  // The panorama's own GPano XMP, once its size is known (a size of the
  // general resampler's).
  void SetResultPanoramaSize(int width, int height);

 private:
  struct ArrangedSource {
    Arrangement arrangement;
    std::vector<std::string> inputs;  // in the arrangement's order
    bool detected = false;            // the layout was chosen by the image's shape
    long long width = 0, height = 0;
  };
  std::optional<ArrangedSource> source_;
  std::array<Bitmap, 6> providedFaces_;
  bool provided_ = false;

  // The source an arrangement names, from the chosen file; false after the
  // message.
  bool CheckArrangedSource();
  // The chosen file as one image of six faces, its layout found by its
  // shape; quiet: no message when it is none.
  bool SingleImageSource(const Arrangement& arrangement, bool quiet);
  void BuildArrangedFileNames();

  std::string cubeImageFileName_;
  TPanoImageSize panoImageSize_ = ps256;
};

}  // namespace skyfold
