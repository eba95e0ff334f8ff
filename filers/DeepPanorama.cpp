// The inverse conversion of faces deeper than the classic 8-bit RGB: the
// six faces are decoded as stored, brought to one working format and the
// panorama is sampled straight from them (DeepCube.h).
#include <array>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "filers/DeepCube.h"
#include "filers/PanoFiler.h"
#include "imaging/ImageProbe.h"
#include "imaging/PathUtils.h"
#include "imaging/PixelConvert.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

void TPanoFiler::PrepareResultMetadata() {
  const TExtractImageType type = GetExtractImageType();
  ResultMetadata = {};
  if (Options.output.stripMetadata) return;
  if (ExtractImageTypeFormat(type) == nullptr && type != eiJpeg) return;
  ResultMetadata = ReadResultMetadata(GetCubeImageFileName());
  // A face's profile is the panorama's; its EXIF and XMP are the camera's.
  if (ExtractImageTypeFormat(type) != nullptr) {
    AddPanoramaXmp(ResultMetadata, OutputSize, OutputSize / 2);
  }
}

void TPanoFiler::SetResultPanoramaSize(int width, int height) {
  if (Options.output.stripMetadata || !ResultMetadata.equirectangular) return;
  AddPanoramaXmp(ResultMetadata, width, height);
}

bool TPanoFiler::UsesDeepFaces() {
  const OutputFormat* output = ExtractImageTypeFormat(GetExtractImageType());
  if (output == nullptr || (output->deepest == SampleType::U8 && !output->alpha)) return false;
  try {
    const ImageHeader header = ProbeImageFile(GetCubeImageFileName());
    return HoldsDeepSamples(header) || (output->alpha && header.channels == 4 &&
                                        header.format != "JPEG" && header.format != "BMP");
  } catch (const std::exception&) {
    // A header the classic probe refuses (a float TIFF): the deep decoders
    // decide, and report what they refuse.
    return true;
  }
}

bool TPanoFiler::LoadDeepFaces(std::vector<Bitmap>& faces, PixelFormat& deepest) {
  if (!FaceFilesReadable(FileNames)) return false;
  RunContext& run = Context();
  const Workers workers = run.workers();
  DecodeContext context = run.decode();
  context.keepDepth = true;
  // The files as stored: the six faces, or the arranged source's files
  // (one image or six turned faces), which are unarranged below.
  const std::vector<std::string>& inputs = source_ ? source_->inputs : FileNames;
  std::vector<Bitmap> images;
  deepest = PixelFormat::Bgr24;
  for (const std::string& name : inputs) {
    run.cancel().Check();
    DoProgress("読み込んでいます。　" + ExtractFileName(name), spAppend);
    Bitmap image(&run.memory());
    if (!LoadImageFile(image, name, nullptr, context)) return false;
    if (image.empty()) throw CodecError("Cube 画像ファイルが空です。", name);
    const PixelFormat f = image.format();
    const bool alpha = HasAlpha(f) || HasAlpha(deepest);
    const SampleType type =
        static_cast<int>(SampleTypeOf(f)) > static_cast<int>(SampleTypeOf(deepest))
            ? SampleTypeOf(f)
            : SampleTypeOf(deepest);
    deepest = DirectFormat(type, alpha);
    images.push_back(std::move(image));
  }
  const PixelFormat working = DeepWorkingFormat(deepest);
  for (Bitmap& image : images) {
    if (image.format() != working) {
      Bitmap converted = ConvertFormat(image, working, workers);
      image.swap(converted);
    }
  }
  faces.clear();
  if (source_) {
    std::string problem;
    std::optional<std::array<Bitmap, 6>> unarranged =
        source_->arrangement.Unarrange(images, &run.memory(), problem);
    if (!unarranged) {
      ShowErrorMessage(source_->inputs.front() + ": " + problem);
      return false;
    }
    for (Bitmap& face : *unarranged) faces.push_back(std::move(face));
  } else {
    faces = std::move(images);
  }
  return true;
}

bool TPanoFiler::ConvertDeepFaces(const std::string& output) {
  std::vector<Bitmap> faces;
  PixelFormat deepest = PixelFormat::Bgr24;
  if (!LoadDeepFaces(faces, deepest)) return false;
  RunContext& run = Context();
  const Workers workers = run.workers();
  std::array<const Bitmap*, 6> pointers{};
  for (std::size_t d = 0; d < faces.size() && d < 6; ++d) pointers[d] = &faces[d];
  run.BeginStage(RunStage::Warping, 1);
  DoProgress("立方体表面の画像を正距円筒画像へ変形します。", spAppend);
  Bitmap panorama = SamplePanorama(pointers, OutputSize, workers);
  faces.clear();
  SaveDeepPanorama(panorama, deepest, output);
  return true;
}

void TPanoFiler::SaveDeepPanorama(Bitmap& panorama, PixelFormat deepest,
                                  const std::string& output) {
  RunContext& run = Context();
  const PixelFormat result = HeldFormat(ExtractImageTypeFormat(GetExtractImageType()), deepest);
  if (ConversionLoses(deepest, result)) DoProgress(kReducedDepthLine, spAppend);
  if (panorama.format() != result) {
    Bitmap converted = ConvertFormat(panorama, result, run.workers());
    panorama.swap(converted);
  }
  run.BeginStage(RunStage::Writing, 1);
  DoProgress("出力中　" + output, spAppend);
  SaveImage(panorama, output, 0);
}

}  // namespace skyfold
