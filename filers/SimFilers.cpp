// TSimFiler: properties, validation, naming and progress of the filer base.
// Loading and saving live in SimImageIO.cpp, the warp in ForwardWarp.cpp.
//
// The operations read the job through the virtual getters, never the
// backing fields, so a facade that binds a property to a window control is
// obeyed everywhere.
#include "filers/SimFilers.h"

#include "imaging/InputFile.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold {

namespace {

// Face index order: left, front, right, back, top, bottom. The digit rule
// numbers the side faces from the front going right.
constexpr const char* kWordSuffixes[6] = {"_left", "_front", "_right", "_back", "_top", "_bottom"};
constexpr const char* kDigitSuffixes[6] = {"_3", "_0", "_1", "_2", "_4", "_5"};

template <typename T>
void StoreIfChanged(TNotifyPersistent& self, T& field, const T& value) {
  if (field == value) return;
  field = value;
  self.Changed();
}

}  // namespace

const char* CubeFaceSuffix(TCubeSuffix rule, int faceIndex) {
  if (faceIndex < 0 || faceIndex > 5) return "";
  switch (rule) {
    case csLeft:
      return kWordSuffixes[faceIndex];
    case csZero:
      return kDigitSuffixes[faceIndex];
  }
  return "";
}

const char* ExtractImageTypeExt(TExtractImageType type) {
  switch (type) {
    case eiBitmap:
      return ".bmp";
    case eiJpeg:
      return ".jpg";
    case eiTiff:
      return ".tif";
    default:
      break;
  }
  const OutputFormat* format = ExtractImageTypeFormat(type);
  return format != nullptr ? format->extension : "";
}

std::optional<TExtractImageType> ExtractImageTypeFromName(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (name == "bmp") return eiBitmap;
  if (name == "jpg" || name == "jpeg") return eiJpeg;
  if (name == "tif" || name == "tiff") return eiTiff;
  const auto& formats = OutputFormats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    if (name == formats[i].name) return static_cast<TExtractImageType>(eiPng + i);
  }
  return std::nullopt;
}

const OutputFormat* ExtractImageTypeFormat(TExtractImageType type) {
  const auto& formats = OutputFormats();
  if (type < eiPng || type - eiPng >= static_cast<int>(formats.size())) return nullptr;
  return &formats[static_cast<std::size_t>(type - eiPng)];
}

ImageMetadata TSimFiler::MetadataFor(TExtractImageType type) const {
  if (type == eiJpeg) return ImageMetadata{ResultMetadata.icc, {}, {}};
  if (ExtractImageTypeFormat(type) != nullptr) return ResultMetadata;
  return ImageMetadata{};
}

// The constructor runs the base CreateDataHolders (no derived override is
// reachable yet), which is the one every filer needs.
TSimFiler::TSimFiler() { TSimFiler::CreateDataHolders(); }

TSimFiler::~TSimFiler() = default;

// ---- properties ----

TCubeSuffix TSimFiler::GetCubeSuffix() const { return cubeSuffix_; }
void TSimFiler::SetCubeSuffix(TCubeSuffix value) { StoreIfChanged(*this, cubeSuffix_, value); }

TExtractImageType TSimFiler::GetExtractImageType() const { return extractImageType_; }
void TSimFiler::SetExtractImageType(TExtractImageType value) {
  StoreIfChanged(*this, extractImageType_, value);
}

std::string TSimFiler::GetImageFileName() const { return imageFileName_; }
void TSimFiler::SetImageFileName(const std::string& value) {
  StoreIfChanged(*this, imageFileName_, value);
}

TImageSizeMode TSimFiler::GetImageSizeMode() const { return imageSizeMode_; }
void TSimFiler::SetImageSizeMode(TImageSizeMode value) {
  StoreIfChanged(*this, imageSizeMode_, value);
}

std::string TSimFiler::GetSceneFilename() const { return sceneFilename_; }
void TSimFiler::SetSceneFilename(const std::string& value) {
  StoreIfChanged(*this, sceneFilename_, value);
}

TSceneFormat TSimFiler::GetSceneFormat() const { return sceneFormat_; }
void TSimFiler::SetSceneFormat(TSceneFormat value) { StoreIfChanged(*this, sceneFormat_, value); }

TSceneType TSimFiler::GetSceneType() const { return sceneType_; }
void TSimFiler::SetSceneType(TSceneType value) { StoreIfChanged(*this, sceneType_, value); }

std::string TSimFiler::GetTextureBasename() const { return textureBasename_; }
void TSimFiler::SetTextureBasename(const std::string& value) {
  StoreIfChanged(*this, textureBasename_, value);
}

// ---- virtual operations ----

std::string TSimFiler::GetSceneFolder() const { return ExtractFilePath(GetSceneFilename()); }

void TSimFiler::CreateDataHolders() {
  fmsData_ = std::make_unique<TFMSDataHolder>();
  rcpData_ = std::make_unique<TRCPDataHolder>();
}

bool TSimFiler::CheckImageFileName() {
  const std::string imageFileName = GetImageFileName();
  if (imageFileName.empty()) {
    ShowErrorMessage("画像ファイル名：が指定されていません。");
    return false;
  }
  if (const std::string notAFile = NotAFileMessage(imageFileName); !notAFile.empty()) {
    ShowErrorMessage(notAFile);
    return false;
  }
  if (!FileExists(imageFileName)) {
    ShowErrorMessage("画像ファイル名で指定されたファイルがありません。");
    return false;
  }
  return true;
}

bool TSimFiler::CheckParameters() { return CheckImageFileName() && CheckSceneParameters(); }

bool TSimFiler::CheckSceneParameters() {
  if (GetSceneFilename().empty()) {
    ShowErrorMessage("シーンファイル名：が指定されていません。");
    return false;
  }
  if (!DirectoryExists(GetSceneFolder())) {
    // The misspelt "フィアル" is the message users know; keep it.
    ShowErrorMessage("シーンフィアル名：で指定されたフォルダがありません。");
    return false;
  }
  if (GetTextureBasename().empty()) {
    ShowErrorMessage("出力画像の基本名：が指定されていません。");
    return false;
  }
  return true;
}

void TSimFiler::PrepareImageSize() {
  const TImageSizeMode mode = GetImageSizeMode();
  if (mode > ismLarge) return;
  switch (GetSceneType()) {
    case stCube:
      OutputSize = 1024 << mode;
      break;
    case stSphere:
      OutputSize = 512 << mode;
      break;
  }
}

void TSimFiler::BuildFileNames() {
  FileNames.clear();
  const std::string base = GetTextureBasename();
  switch (GetSceneType()) {
    case stCube: {
      const TCubeSuffix rule = GetCubeSuffix();
      if (rule != csLeft && rule != csZero) break;
      for (int face = 0; face < 6; ++face) FileNames.push_back(base + CubeFaceSuffix(rule, face));
      break;
    }
    case stSphere: {
      // Group 1 holds four pieces, groups 2 and 3 eight each: _11 … _38.
      constexpr int kPiecesPerGroup[3] = {4, 8, 8};
      for (int group = 1; group <= 3; ++group) {
        for (int index = 1; index <= kPiecesPerGroup[group - 1]; ++index) {
          FileNames.push_back(base + "_" + std::to_string(group) + std::to_string(index));
        }
      }
      break;
    }
  }
  const std::string ext = ExtractImageTypeExt(GetExtractImageType());
  for (std::string& name : FileNames) name += ext;
}

// ---- non-virtual operations ----

void TSimFiler::NoteIncomplete(const LoadReport& report, const std::string& fileName) {
  if (report.incomplete) {
    DoProgress("ファイルが途中で切れています。読めた部分だけを使います。　" + fileName, spAppend);
  }
}

void TSimFiler::DoProgress(const std::string& text, TSimProgressMode mode) {
  if (run_ != nullptr) run_->Report(text, mode);
  if (OnProgress) OnProgress(this, text, mode);
}

RunContext& TSimFiler::Context() {
  if (run_ != nullptr) return *run_;
  if (!ownRun_) ownRun_ = std::make_unique<RunContext>();
  return *ownRun_;
}

ProgressLine TSimFiler::ProgressHere() {
  return [this](const std::string& text, TSimProgressMode mode) { DoProgress(text, mode); };
}

TableBuild TSimFiler::TableBuildHere() {
  RunContext& run = Context();
  return TableBuild{run.workers(), &run.cancel(), ProgressHere(), &run.memory()};
}

void TSimFiler::PrepareMappingTable(int quarterUnit) {
  Context().PrepareTable(quarterUnit, TableBuilder());
}

void TSimFiler::DropPreparedTable() { Context().DropTable(); }

void TSimFiler::ObtainMappingTable(int quarterUnit, TmxCurrencyUV& table) {
  RunContext& run = Context();
  if (run.TakeTable(quarterUnit, table, ProgressHere())) return;
  table.SetSizeMirrored(2 * quarterUnit, 4 * quarterUnit, &run.memory());
  BuildMappingTable(quarterUnit, table);
}

std::string TSimFiler::GetFirstFileName() const {
  return FileNames.empty() ? std::string() : FileNames.front();
}

std::string TSimFiler::OutputPath(const std::string& fileName) const {
  return JoinPath(GetSceneFolder(), fileName);
}

}  // namespace skyfold
