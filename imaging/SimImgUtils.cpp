// Image kind by extension and loading by kind. BMP and JPEG have their own
// readers; ".TIF"/".TIFF" names go to the decoder registry, which chooses by
// content. Decoding happens into a temporary that replaces the caller's
// bitmap only on success.
#include "imaging/SimImgUtils.h"

#include <new>

#include "codecs/DecoderRegistry.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold {

TImageFileKind GetImageFileKind(const std::string& fileName) {
  std::string ext = ExtractFileExt(fileName);
  // Only ASCII letters are upper-cased: a UTF-8 name never has an ASCII byte
  // inside a multi-byte character, so this cannot split one.
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (ext == ".BMP") return ikBitmap;
  if (ext == ".JPG" || ext == ".JPEG") return ikJpeg;
  if (ext == ".TIF" || ext == ".TIFF") return ikTiff;
  return ikUnknown;
}

bool LoadImageFile(Bitmap& bitmap, const std::string& fileName, const DecodeContext& context) {
  if (!FileExists(fileName)) return false;
  const TImageFileKind kind = GetImageFileKind(fileName);
  if (kind == ikUnknown) {
    ShowErrorMessage("扱えない画像ファイルです。");
    return false;
  }
  Bitmap loaded(bitmap.pool());
  try {
    switch (kind) {
      case ikBitmap:
        ReadBmpFile(fileName, loaded);
        break;
      case ikJpeg:
        ReadJpegFile(fileName, loaded, context);
        break;
      case ikTiff:
        LoadImageByContent(fileName, loaded);
        break;
      case ikUnknown:
        break;
    }
  } catch (const std::bad_alloc&) {
    throw MemoryError("Out of memory.");
  }
  bitmap.swap(loaded);
  return true;
}

}  // namespace skyfold
