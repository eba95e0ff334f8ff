// TSimFiler: the conversion job shared by both directions.
//
// A filer holds the inputs and options of one conversion, validates them
// (ShowErrorMessage + false on the first failing check), computes its output
// file names, loads the source, reports progress through OnProgress and
// writes result bitmaps. It also carries the warp machinery: a mapping table
// of one quarter strip (BuildMappingTable, virtual, so the inverse filer
// supplies its own), ResampleStrip, WarpImage, and the forward face cutter
// (SaveCubeFaces, AssemblePoleFace).
//
// Properties are pairs of virtual getters and setters so that a facade can
// bind them to live window controls. Base setters store the value and call
// Changed only when it differs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filers/JobOptions.h"
#include "filers/MappingTable.h"
#include "filers/NotifyPersistent.h"
#include "filers/RunContext.h"
#include "filers/SimDataHolders.h"
#include "filers/WarpedFaces.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageMetadata.h"
#include "imaging/OutputFormats.h"

namespace skyfold {

// Enumerations are exchanged by ordinal (settings file, radio-group item
// indexes); the fixed underlying type lets any byte value travel.
enum TCubeSuffix : std::uint8_t { csLeft = 0, csZero = 1 };
// Ordinals from 3 on are the registered output types of
// imaging/OutputFormats.h, in their order (3 + index).
enum TExtractImageType : std::uint8_t {
  eiBitmap = 0,
  eiJpeg = 1,
  eiTiff = 2,
  eiPng = 3,
  eiExr = 4,
  eiHdr = 5,
  eiWebp = 6,
  eiWebpLossless = 7,
  eiTiff16 = 8,
  eiTiffFloat = 9
};
enum TImageSizeMode : std::uint8_t { ismSmall = 0, ismNormal = 1, ismLarge = 2 };
enum TSceneFormat : std::uint8_t { sfFMS = 0, sfRCP = 1 };
enum TSceneType : std::uint8_t { stCube = 0, stSphere = 1 };

// Face index, in both directions.
enum TFaceIndex : std::uint8_t {
  fiLeft = 0,
  fiFront = 1,
  fiRight = 2,
  fiBack = 3,
  fiTop = 4,
  fiBottom = 5
};

class TSimFiler;
class FaceSaves;
class WarpDots;

// spAppend starts a new console line with S; spUpdate appends S to the last.
// A callable bound to its receiver (capture the receiver in the lambda).
using TSimProgressEvent =
    std::function<void(TSimFiler* sender, const std::string& s, TSimProgressMode mode)>;

// Face suffix of face index d (0 … 5) under a naming rule ("_left" / "_3" …).
const char* CubeFaceSuffix(TCubeSuffix rule, int faceIndex);
// ".bmp", ".jpg", ".tif", then the registered types' extensions; "" for any
// other value.
const char* ExtractImageTypeExt(TExtractImageType type);
// The registered output type of an ordinal from 3 on; nullptr for the
// classic three and values beyond the registry.
const OutputFormat* ExtractImageTypeFormat(TExtractImageType type);
// A type by name in any case: bmp, jpg/jpeg, tif/tiff, then the registered
// types' names; nullopt for any other.
std::optional<TExtractImageType> ExtractImageTypeFromName(std::string name);

// The width the warp sees for a source of w × h (a source not 2:1 or not in
// multiples of 8 is stretched first).
int WarpedWidth(int w, int h);

// The forward table of quarter unit q into a mirrored 2q × 4q table.
void BuildForwardTable(int q, TmxCurrencyUV& table, const TableBuild& build);

class TSimFiler : public TNotifyPersistent {
 public:
  TSimFiler();
  ~TSimFiler() override;
  TSimFiler(const TSimFiler&) = delete;
  TSimFiler& operator=(const TSimFiler&) = delete;

  // ---- properties (virtual accessor pairs) ----
  virtual TCubeSuffix GetCubeSuffix() const;
  virtual void SetCubeSuffix(TCubeSuffix value);
  virtual TExtractImageType GetExtractImageType() const;
  virtual void SetExtractImageType(TExtractImageType value);
  virtual std::string GetImageFileName() const;
  virtual void SetImageFileName(const std::string& value);
  virtual TImageSizeMode GetImageSizeMode() const;
  virtual void SetImageSizeMode(TImageSizeMode value);
  virtual std::string GetSceneFilename() const;
  virtual void SetSceneFilename(const std::string& value);
  virtual TSceneFormat GetSceneFormat() const;
  virtual void SetSceneFormat(TSceneFormat value);
  virtual TSceneType GetSceneType() const;
  virtual void SetSceneType(TSceneType value);
  virtual std::string GetTextureBasename() const;
  virtual void SetTextureBasename(const std::string& value);

  // ---- virtual operations ----
  // Folder part of SceneFilename (up to and including the last delimiter).
  virtual std::string GetSceneFolder() const;
  virtual void CreateDataHolders();
  virtual bool CheckParameters();
  virtual void PrepareImageSize();
  // Writes bitmap in the ExtractImageType format; faceIndex is ignored here.
  virtual void SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t faceIndex);
  // The forward table (2q columns × 4q rows, sized mirrored by the caller).
  virtual void BuildMappingTable(int quarterUnit, TmxCurrencyUV& table);
  // The builder BuildMappingTable uses, as a function that touches no filer,
  // so the table can be built ahead on a worker (PrepareMappingTable).
  virtual MappingTableBuilder TableBuilder() const;
  virtual void BuildFileNames();

  // ---- non-virtual operations ----
  void DoProgress(const std::string& text, TSimProgressMode mode);
  // A console line when the file ended before its last row (the decoder
  // filled the rest), so the user knows the output is not the whole picture.
  void NoteIncomplete(const LoadReport& report, const std::string& fileName);
  std::string GetFirstFileName() const;
  // Loads ImageFileName into bitmap and normalises its size. Returns false
  // when nothing was loaded (missing file, or an extension the loader does
  // not accept, after its message): the caller must stop the run.
  bool LoadSourceImage(Bitmap& bitmap);
  void FixImageSize(Bitmap& bitmap);
  // After LoadSourceImage: the source keeps samples deeper than the classic
  // 8-bit RGB (or alpha) for an output type that holds them; it is then in a
  // working format (DeepCube.h) and goes to SaveDeepCubeFaces instead of the
  // classic warp.
  bool HoldsDeepSource() const { return deepSource_; }
  // The six faces of a deep source sampled straight from it, each converted
  // to the source's depth and saved like SaveCubeFaces does.
  void SaveDeepCubeFaces(Bitmap& bitmap);
  // The metadata a result of the given type gets from the job's source
  // (ResultMetadata): everything for the new types, the colour profile alone
  // for the classic JPEG, nothing for BMP and the classic TIFF.
  ImageMetadata MetadataFor(TExtractImageType type) const;
  // What the results carry, read from the source by the load (empty with
  // Options.output.stripMetadata).
  ImageMetadata ResultMetadata;
  // Sets ResultMetadata from the source fileName, as the load does.
  void LoadResultMetadata(const std::string& fileName);
  bool CheckSceneParameters();
  void WarpImage(Bitmap& bitmap);
  // WarpImage, the progress line savingLine, then SaveImage(bitmap,
  // fileName, 0): the same file and the same progress lines. A JPEG is
  // encoded band by band while the warp goes on (with two threads or more);
  // the warped panorama is then never held whole, and bitmap is left empty.
  // Only this class's own SaveImage is streamed like that.
  void WarpAndSaveImage(Bitmap& bitmap, const std::string& fileName, const std::string& savingLine);
  // Starts building the table of quarter unit q on a worker of the run that
  // leaves the other cores alone; its progress is kept. The next WarpImage
  // of a panorama 8q wide takes it and reports that progress then, in
  // order, so the lines are the same as when it builds the table itself.
  void PrepareMappingTable(int quarterUnit);
  // Drops a table PrepareMappingTable started, if any.
  void DropPreparedTable();
  void ResampleStrip(Bitmap& dest, const Bitmap& source, const TmxCurrencyUV& table);
  void SaveCubeFaces(Bitmap& bitmap);
  // True when SaveImage writes face faceIndex's pixels unchanged as a JPEG,
  // so that the face may be encoded as its rows are made (the same bytes)
  // instead of going to SaveImage. A subclass whose SaveImage does more to
  // a JPEG face says so here.
  virtual bool WritesJpegAsMade(std::uint8_t faceIndex) const;
  void AssemblePoleFace(Bitmap& face, const Bitmap& strip, int which);
  // GetSceneFolder joined with fileName (one delimiter inserted only when the
  // folder lacks a final one).
  std::string OutputPath(const std::string& fileName) const;

  TSimProgressEvent OnProgress;
  // Output (forward) or input (inverse) file names, face order, extension
  // included, no folder.
  std::vector<std::string> FileNames;
  // Beyond the classic properties; defaults give the classic job.
  JobOptions Options;
  std::int32_t OutputSize = 0;

  // The run the filer's operations belong to: its threads, memory, cancel
  // token, outputs and progress. Bound by whoever drives a run (the
  // engine) for the run's length; unbound, the filer uses a context of its
  // own with one thread per core.
  // Whatever a run left made in the filer is dropped with it.
  void UseRunContext(RunContext* context) {
    run_ = context;
    warpedFaces_ = {};
  }
  RunContext& Context();

  TFMSDataHolder* FMSData() const { return fmsData_.get(); }
  TRCPDataHolder* RCPData() const { return rcpData_.get(); }

 protected:
  // The source-file checks every forward validation starts with: a name is
  // given and names an existing file.
  bool CheckImageFileName();
  // The filer's progress as a line sink, and a table build on the run.
  ProgressLine ProgressHere();
  TableBuild TableBuildHere();

  friend class FaceSaves;

 private:
  TCubeSuffix cubeSuffix_ = csLeft;
  TExtractImageType extractImageType_ = eiBitmap;
  std::string imageFileName_;
  TImageSizeMode imageSizeMode_ = ismSmall;
  std::string sceneFilename_;
  TSceneFormat sceneFormat_ = sfFMS;
  TSceneType sceneType_ = stCube;
  std::string textureBasename_;
  std::unique_ptr<TFMSDataHolder> fmsData_;
  std::unique_ptr<TRCPDataHolder> rcpData_;
  RunContext* run_ = nullptr;
  std::unique_ptr<RunContext> ownRun_;
  // Set while SaveCubeFaces saves a face: JPEG faces may be encoded in the
  // background.
  FaceSaves* backgroundSaves_ = nullptr;
  bool deepSource_ = false;
  // The sample depth the results keep: the source's (with its alpha).
  PixelFormat resultFormat_ = PixelFormat::Bgr24;

  // The warp's table of quarter unit q: the prepared one, or one built now
  // (mirrored, as the warps read it).
  void ObtainMappingTable(int quarterUnit, TmxCurrencyUV& table);
  // WarpImage of a source still being decoded (RunContext::source).
  void WarpFollowingTheDecoder(Bitmap& bitmap, const TmxCurrencyUV& table, WarpDots& dots);
  // The faces the warp of a streamed source made as it went (WarpedFaces),
  // for SaveCubeFaces to report and save in their turn: a face written
  // that failed fails there, where saving it would have.
  WarpedFaces::Made warpedFaces_;
  WarpedFaces::FaceFiles FilesAsWarped(const Bitmap& bitmap);
};

}  // namespace skyfold
