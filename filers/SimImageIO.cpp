// The filer base's file side: loading the source panorama, normalising its
// size for the warp, and writing a result in the chosen file type.
//
// The warp cuts the panorama into four strips of (W / 4) × H and needs an
// exact 2:1 image whose width is a multiple of 8. Anything else is
// stretched to such a size before the warp can see it.
#include <algorithm>
#include <cstdint>
#include <string>

#include "filers/FaceSaves.h"
#include "filers/SimFilers.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/PathUtils.h"
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
  if (!FileExists(fileName)) return false;
  DoProgress("読み込んでいます。　" + fileName, spAppend);
  RunContext& run = Context();
  run.cancel().Check();
  // A JPEG decodes on one core: the warp's table, which depends only on the
  // size, is built on another meanwhile.
  int w = 0, h = 0, components = 0;
  const bool jpeg = run.Threads() > 1 && GetImageFileKind(fileName) == ikJpeg &&
                    ReadJpegSize(fileName, w, h, &components) && w > 0 && h > 0;
  // Measured: up to 8192 wide the warp keeps pace behind the decoder; wider,
  // its four strips at once miss the cache and the strip-by-strip warp after
  // the decode is faster (16384: 2.7 s against 2.5 s).
  constexpr int kMaxFollowedWidth = 8192;
  if (jpeg && run.streamSource && components == 3 && !NeedsSizeFix(w, h) &&
      w <= kMaxFollowedWidth && BitmapSizeAllowed(w, h, PixelFormat::Bgr24)) {
    // The warp follows the decoder on the other cores (see WarpImage).
    Bitmap target(w, h, PixelFormat::Bgr24, Uninitialised{}, &run.memory());
    bitmap.swap(target);
    auto decode = std::make_unique<RunContext::SourceDecode>();
    RowGate* rows = &decode->rows;
    LoadReport* report = &decode->report;
    decode->task = run.workers().Submit(
        [fileName, into = &bitmap, rows, report, context = run.decode()]() mutable {
          context.rows = rows;
          context.workers = Workers();  // this worker is the decoder's only thread
          try {
            try {
              ReadJpegFileInto(fileName, *into, context, report);
            } catch (Error& e) {
              e.NoteFile(fileName);
              throw;
            }
          } catch (...) {
            rows->Fail(std::current_exception());
            throw;
          }
          rows->Finish();
        });
    run.source = std::move(decode);
    return true;
  }
  if (jpeg) PrepareMappingTable(WarpedWidth(w, h) / 8);
  bool loaded = false;
  LoadReport report;
  try {
    // After an unaccepted extension the loader has told the user; the run
    // must stop rather than write six blank faces.
    Bitmap target(&run.memory());
    loaded = LoadImageFile(target, fileName, &report, run.decode());
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
  // Every later step reads and writes three bytes per pixel.
  ConvertToBgr24(bitmap);
  if (NeedsSizeFix(bitmap)) FixImageSize(bitmap);
  return true;
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
    case eiJpeg:
      if (backgroundSaves_ != nullptr && backgroundSaves_->Enabled()) {
        backgroundSaves_->SaveJpeg(bitmap, fileName);
      } else {
        SaveBitmapAsJpeg(fileName, bitmap, 100, run.outputs);
      }
      break;
    case eiTiff:
      SaveBitmapAsTiff(fileName, bitmap, run.outputs);
      break;
  }
}

}  // namespace skyfold
