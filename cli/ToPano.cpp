// to-pano: six cube faces into one equirectangular panorama, through the
// same sequence of filer operations as the window's inverse run. Validation
// messages and failures go to err; out lists the written file.
#include <exception>
#include <new>
#include <string>

#include "cli/Jobs.h"
#include "cli/Progress.h"
#include "filers/PanoFiler.h"
#include "imaging/Errors.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold::cli {

namespace {

// 256 << ordinal; -1 for a width that is not offered.
int PanoSizeOrdinal(int width) {
  for (int ordinal = ps256; ordinal <= ps16384; ++ordinal) {
    if (256 << ordinal == width) return ordinal;
  }
  return -1;
}

// From the output's extension, in any case; anything else is written as TIFF.
TExtractImageType TypeFromExtension(const std::string& fileName) {
  switch (GetImageFileKind(fileName)) {
    case ikBitmap:
      return eiBitmap;
    case ikJpeg:
      return eiJpeg;
    default:
      return eiTiff;
  }
}

}  // namespace

int RunToPano(const ToPanoOptions& options, std::ostream& out, std::ostream& err) {
  const int ordinal = PanoSizeOrdinal(options.width);
  if (ordinal < 0) {
    err << "--width: " << options.width << " not in {256,512,1024,2048,4096,8192,16384}\n";
    return kExitUsage;
  }
  if (options.type && *options.type > eiTiff) {
    err << "--type: not one of bmp, jpg or tif\n";
    return kExitUsage;
  }

  ProgressPrinter progress(err, options.quiet);
  // Validation messages share the stream with the progress lines.
  const ScopedErrorMessageSink sink([&](const std::string& text) { progress.Message(text); });

  TPanoFiler filer;
  filer.OnProgress = progress.Event();
  // The face name goes in as typed, so the suffix rule judges what the user
  // wrote; the output is written exactly to the given name.
  filer.SetCubeImageFileName(options.face);
  filer.SetImageFileName(options.output);
  filer.SetPanoImageSize(static_cast<TPanoImageSize>(ordinal));
  filer.SetExtractImageType(options.type ? *options.type : TypeFromExtension(options.output));

  const std::string output = filer.GetImageFileName();
  if (!options.force && FileExists(output)) {
    ShowErrorMessage(ExpandFileName(output) +
                     ": the file already exists (use --force to replace it)");
    return kExitRefused;
  }

  try {
    if (!filer.CheckParameters()) return kExitRefused;
    Bitmap bitmap(0, 0, PixelFormat::Bgr24);
    filer.PrepareImageSize();
    filer.BuildFileNames();
    if (!filer.LoadCubeFaces(bitmap)) {
      progress.Finish();
      return kExitRefused;
    }
    filer.DoProgress("立方体表面の画像を正距円筒画像へ変形します。", spAppend);
    filer.WarpAndSaveImage(bitmap, output, "出力中　" + output);
  } catch (const std::bad_alloc&) {
    progress.Message("Out of memory");
    return kExitFailed;
  } catch (const std::exception& e) {
    progress.Message(e.what());
    return kExitFailed;
  }
  progress.Finish();
  out << ExpandFileName(output) << '\n' << std::flush;
  return kExitOk;
}

}  // namespace skyfold::cli
