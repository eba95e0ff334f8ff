// The filer base's file side: loading the source panorama, normalising its
// size for the warp, and writing a result in the chosen file type.
//
// The warp cuts the panorama into four strips of (W / 4) × H and needs an
// exact 2:1 image whose width is a multiple of 8. Anything else is
// stretched to such a size before the warp can see it.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "filers/DeepCube.h"
#include "filers/FaceSaves.h"
#include "filers/SimFilers.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"
#include "imaging/PathUtils.h"
#include "imaging/PixelConvert.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr int kMinFixedWidth = 8192;

bool NeedsSizeFix(std::int64_t w, std::int64_t h) {
  if (w == 0 || h == 0) return false;
  // Multiples of 8 alone are not enough: a 4000 × 1000 source would make
  // the resampling read below the image.
  return w % 8 != 0 || h % 8 != 0 || w != 2 * h;
}

bool NeedsSizeFix(const Bitmap& bitmap) { return NeedsSizeFix(bitmap.width(), bitmap.height()); }

int FixedWidth(int width) { return std::max(width / 8 * 8, kMinFixedWidth); }

}  // namespace

int WarpedWidth(int w, int h) { return NeedsSizeFix(w, h) ? FixedWidth(w) : w; }

bool TSimFiler::LoadSourceImage(Bitmap& bitmap) {
  const std::string fileName = GetImageFileName();
  deepSource_ = false;
  resultFormat_ = PixelFormat::Bgr24;
  if (!FileExists(fileName)) return false;
  DoProgress("読み込んでいます。　" + fileName, spAppend);
  RunContext& run = Context();
  const OutputFormat* output = ExtractImageTypeFormat(GetExtractImageType());
  // The classic sources into the classic types are read as the classic conversion
  // reads them; anything else keeps its depth until the output decides.
  DecodeContext decodeContext = run.decode();
  decodeContext.keepDepth = output != nullptr || GetImageFileKind(fileName) >= ikPng;
  LoadResultMetadata(fileName);
  run.cancel().Check();
  // A JPEG decodes on one core: the warp's table, which depends only on the
  // size, is built on another meanwhile.
  const std::optional<RunContext::JpegSource> jpeg = run.ParallelJpeg(fileName);
  if (jpeg && jpeg->colour && run.streamSource && !NeedsSizeFix(jpeg->width, jpeg->height)) {
    // The warp follows the decoder on the other cores (see WarpImage).
    run.StartSourceDecode(fileName, jpeg->width, jpeg->height, bitmap);
    return true;
  }
  if (jpeg) PrepareMappingTable(WarpedWidth(jpeg->width, jpeg->height) / 8);
  bool loaded = false;
  LoadReport report;
  try {
    // After an unaccepted extension the loader has told the user; the run
    // must stop rather than write six blank faces.
    Bitmap target(&run.memory());
    loaded = LoadImageFile(target, fileName, &report, decodeContext);
    if (loaded) bitmap.swap(target);
  } catch (...) {
    DropPreparedTable();
    throw;
  }
  if (!loaded) {
    DropPreparedTable();
    return false;
  }
  NoteIncomplete(report, fileName);
  const PixelFormat held = HeldFormat(output, bitmap.format());
  if (IsDeep(bitmap.format()) && IsDeep(held)) {
    // Sampled straight from the source at its own size (SaveDeepCubeFaces).
    if (ConversionLoses(bitmap.format(), held)) DoProgress(kReducedDepthLine, spAppend);
    const PixelFormat working = DeepWorkingFormat(bitmap.format());
    if (bitmap.format() != working) {
      Bitmap converted = ConvertFormat(bitmap, working, run.workers());
      bitmap.swap(converted);
    }
    deepSource_ = true;
    resultFormat_ = held;
    return true;
  }
  if (IsDeep(bitmap.format()) && ConversionLoses(bitmap.format(), PixelFormat::Bgr24)) {
    DoProgress(kReducedDepthLine, spAppend);
  }
  // Every later step reads and writes three bytes per pixel.
  ConvertToBgr24(bitmap);
  if (NeedsSizeFix(bitmap)) FixImageSize(bitmap);
  return true;
}

void TSimFiler::LoadResultMetadata(const std::string& fileName) {
  const bool carries =
      !Options.output.stripMetadata &&
      (ExtractImageTypeFormat(GetExtractImageType()) != nullptr || GetExtractImageType() == eiJpeg);
  ResultMetadata = carries ? ReadResultMetadata(fileName) : ImageMetadata{};
}

void TSimFiler::FixImageSize(Bitmap& bitmap) {
  DoProgress("イメージサイズを修正しています。", spAppend);
  const int newWidth = FixedWidth(bitmap.width());
  const int newHeight = newWidth / 2;
  Bitmap fixed(newWidth, newHeight, PixelFormat::Bgr24, bitmap.pool());
  StretchDraw(fixed, Rect{0, 0, newWidth, newHeight}, bitmap);
  // Swap rather than copy: the panorama may be hundreds of megabytes.
  bitmap.swap(fixed);
}

void TSimFiler::SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t /*faceIndex*/) {
  RunContext& run = Context();
  run.cancel().Check();
  switch (GetExtractImageType()) {
    case eiBitmap:
      SaveBitmapAsBmp(fileName, bitmap, run.outputs);
      break;
    case eiJpeg: {
      // With a source profile, the JPEG carries it (APP2); the pixels and
      // every other byte of the encoding are the classic.
      ImageMetadata metadata = MetadataFor(eiJpeg);
      if (backgroundSaves_ != nullptr && backgroundSaves_->Enabled()) {
        backgroundSaves_->SaveJpeg(bitmap, fileName, std::move(metadata));
      } else if (metadata.Empty()) {
        SaveBitmapAsJpeg(fileName, bitmap, 100, run.outputs);
      } else {
        OutputFile file(fileName, run.outputs);
        WriteWithMetadata(file, EncodeJpeg(bitmap, 100), metadata);
        file.close();
      }
      break;
    }
    case eiTiff:
      SaveBitmapAsTiff(fileName, bitmap, run.outputs);
      break;
    default:
      if (const OutputFormat* format = ExtractImageTypeFormat(GetExtractImageType())) {
        ImageMetadata metadata = MetadataFor(GetExtractImageType());
        if (backgroundSaves_ != nullptr && backgroundSaves_->Enabled()) {
          // Faces are encoded on the run's workers while the next are made.
          backgroundSaves_->Save(bitmap, fileName,
                                 [format, metadata = std::move(metadata), outputs = run.outputs](
                                     const std::string& name, const Bitmap& b) {
                                   SaveBitmapAs(*format, name, b, metadata, outputs);
                                 });
        } else {
          SaveBitmapAs(*format, fileName, bitmap, metadata, run.outputs);
        }
      }
      break;
  }
}

bool TSimFiler::WritesJpegAsMade(std::uint8_t /*faceIndex*/) const {
  return GetExtractImageType() == eiJpeg;
}

void TSimFiler::SaveDeepCubeFaces(Bitmap& bitmap) {
  RunContext& run = Context();
  const Workers workers = run.workers();
  DoProgress("画像ファイルを書き出しています。", spAppend);
  FaceSaves saves(run);
  for (std::size_t i = 0; i < FileNames.size(); ++i) {
    run.cancel().Check();
    DoProgress(FileNames[i], spAppend);
    if (i >= 6) continue;
    Bitmap face = SampleCubeFace(bitmap, static_cast<int>(i), OutputSize, workers);
    if (face.format() != resultFormat_) {
      Bitmap converted = ConvertFormat(face, resultFormat_, workers);
      face.swap(converted);
    }
    const FaceSaves::Scope background(saves, *this);
    SaveImage(face, OutputPath(FileNames[i]), static_cast<std::uint8_t>(i));
  }
  saves.Finish();
}

}  // namespace skyfold
