// to-cube: each panorama through the window's forward sequence on a
// TCubeFiler: names, the overwrite rule, validation, a 24-bit working
// bitmap, face edge, loading, the warp and the six faces. Jobs run one after
// another; a refused or failed job does not stop the next.
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "cli/Jobs.h"
#include "cli/Progress.h"
#include "filers/CubeFiler.h"
#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold::cli {

namespace {

// Lists every face on `out` as soon as it is on disk, so a job that fails
// half-way still names the files it left behind.
class ListingCubeFiler : public TCubeFiler {
 public:
  explicit ListingCubeFiler(std::ostream& out) : out_(out) {}

  void SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t faceIndex) override {
    TCubeFiler::SaveImage(bitmap, fileName, faceIndex);
    out_ << fileName << '\n' << std::flush;
  }

 private:
  std::ostream& out_;
};

// The TImageSize ordinal of a face edge, or −1 when the edge is not offered.
int ImageSizeOrdinal(int edge) {
  for (int ordinal = is64; ordinal <= is4096; ++ordinal) {
    if ((64 << ordinal) == edge) return ordinal;
  }
  return -1;
}

// The folder asked for, else the panorama's own ("." for a bare name).
std::string OutputFolder(const ToCubeOptions& options, const std::string& panorama) {
  if (!options.outputDir.empty()) return options.outputDir;
  const std::string folder = ExtractFilePath(panorama);
  return folder.empty() ? std::string(1, '.') : folder;
}

int RunOne(const ToCubeOptions& options, const std::string& panorama, ProgressPrinter& printer,
           std::ostream& out) {
  ListingCubeFiler filer(out);
  filer.OnProgress = printer.Event();
  filer.SetImageFileName(panorama);

  // The base filer's output folder is the folder part of SceneFilename.
  filer.SetSceneFilename(IncludeTrailingPathDelimiter(OutputFolder(options, panorama)));
  filer.SetTextureBasename(options.baseName.empty() ? ChangeFileExt(ExtractFileName(panorama), "")
                                                    : options.baseName);
  filer.SetCubeSuffix(options.digitSuffix ? csZero : csLeft);
  filer.SetExtractImageType(options.type);
  filer.SetImageSize(static_cast<TImageSize>(ImageSizeOrdinal(options.size)));
  filer.SetTopRotate(options.rotateTop);
  filer.SetChangeLeftRight(options.swapLeftRight);

  try {
    filer.BuildFileNames();
    if (!options.force) {
      for (const std::string& name : filer.FileNames) {
        const std::string path = filer.OutputPath(name);
        if (FileExists(path)) {
          ShowErrorMessage(path + ": the file already exists (use --force to replace it)");
          return kExitRefused;
        }
      }
    }
    if (!filer.CheckParameters()) return kExitRefused;

    Bitmap bitmap(0, 0, PixelFormat::Bgr24);
    filer.PrepareImageSize();
    if (!filer.LoadSourceImage(bitmap)) {
      printer.Finish();
      return kExitRefused;
    }
    filer.DoProgress("正距円筒画像を立方体表面の画像へ変形します。", spAppend);
    filer.WarpImage(bitmap);
    filer.SaveCubeFaces(bitmap);
    printer.Finish();
    return kExitOk;
  } catch (const std::bad_alloc&) {
    printer.Message("Out of memory");
  } catch (const std::exception& e) {
    printer.Message(e.what());
  }
  return kExitFailed;
}

}  // namespace

int RunToCube(const ToCubeOptions& options, std::ostream& out, std::ostream& err) {
  if (ImageSizeOrdinal(options.size) < 0) {
    err << "--size: " << options.size << " not in {64,128,256,512,1024,2048,4096}\n";
    return kExitUsage;
  }
  if (options.type > eiTiff) {
    err << "--type: not one of bmp, jpg or tif\n";
    return kExitUsage;
  }
  if (!options.baseName.empty() && options.panoramas.size() > 1) {
    err << "--base-name: only allowed with a single PANORAMA\n";
    return kExitUsage;
  }

  ProgressPrinter printer(err, options.quiet);
  // Validation messages share the stream with the progress lines.
  const ScopedErrorMessageSink sink([&](const std::string& text) { printer.Message(text); });

  int status = kExitOk;
  for (const std::string& panorama : options.panoramas) {
    const int job = RunOne(options, panorama, printer, out);
    if (job == kExitFailed || (job == kExitRefused && status == kExitOk)) status = job;
  }
  return status;
}

}  // namespace skyfold::cli
