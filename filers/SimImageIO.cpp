// The filer base's file side: loading the source panorama, normalising its
// size for the warp, and writing a result in the chosen file type.
//
// The warp cuts the panorama into four strips of (W / 4) × H and needs an
// exact 2:1 image whose width is a multiple of 8. Anything else is
// stretched to such a size before the warp can see it.
#include <cstdint>
#include <string>

#include "filers/SimFilers.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "imaging/PathUtils.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

constexpr int kMinFixedWidth = 8192;

bool NeedsSizeFix(const Bitmap& bitmap) {
  if (bitmap.empty()) return false;
  const int w = bitmap.width();
  const int h = bitmap.height();
  // Multiples of 8 alone are not enough: a 4000 × 1000 source would make
  // the resampling read below the image.
  return w % 8 != 0 || h % 8 != 0 || static_cast<std::int64_t>(w) != 2 * std::int64_t{h};
}

}  // namespace

bool TSimFiler::LoadSourceImage(Bitmap& bitmap) {
  const std::string fileName = GetImageFileName();
  if (!FileExists(fileName)) return false;
  DoProgress("読み込んでいます。　" + fileName, spAppend);
  // After an unaccepted extension the loader has told the user; the run must
  // stop rather than write six blank faces.
  if (!LoadImageFile(bitmap, fileName)) return false;
  // Every later step reads and writes three bytes per pixel.
  ConvertToBgr24(bitmap);
  if (NeedsSizeFix(bitmap)) FixImageSize(bitmap);
  return true;
}

void TSimFiler::FixImageSize(Bitmap& bitmap) {
  DoProgress("イメージサイズを修正しています。", spAppend);
  int newWidth = bitmap.width() / 8 * 8;
  if (newWidth <= kMinFixedWidth) newWidth = kMinFixedWidth;
  const int newHeight = newWidth / 2;
  Bitmap fixed(newWidth, newHeight, PixelFormat::Bgr24);
  StretchDraw(fixed, Rect{0, 0, newWidth, newHeight}, bitmap);
  // Swap rather than copy: the panorama may be hundreds of megabytes.
  bitmap.swap(fixed);
}

void TSimFiler::SaveImage(Bitmap& bitmap, const std::string& fileName, std::uint8_t /*faceIndex*/) {
  switch (GetExtractImageType()) {
    case eiBitmap:
      SaveBitmapAsBmp(fileName, bitmap);
      break;
    case eiJpeg:
      SaveBitmapAsJpeg(fileName, bitmap, 100);
      break;
    case eiTiff:
      SaveBitmapAsTiff(fileName, bitmap);
      break;
  }
}

}  // namespace skyfold
