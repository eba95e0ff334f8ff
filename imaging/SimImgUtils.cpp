// Image kind by extension and loading by kind. BMP and JPEG have their own
// readers; ".TIF"/".TIFF" names go to the decoder registry, which chooses by
// content. Decoding happens into a temporary that replaces the caller's
// bitmap only on success. The file is opened once, as an InputFile, so a
// name that is not a regular file is refused before any read.
#include "imaging/SimImgUtils.h"

#include <new>

#include "codecs/DecoderRegistry.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"
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
  if (ext == ".PNG") return ikPng;
  if (ext == ".EXR") return ikExr;
  if (ext == ".HDR") return ikHdr;
  if (ext == ".WEBP") return ikWebp;
  return ikUnknown;
}

bool LoadImageFile(Bitmap& bitmap, const std::string& fileName, LoadReport* report,
                   const DecodeContext& context) {
  const PathKind path = GetPathKind(fileName);
  if (path == PathKind::Missing) return false;
  if (path != PathKind::RegularFile) CheckInputFile(fileName);  // throws NotAFileError
  const TImageFileKind kind = GetImageFileKind(fileName);
  if (kind == ikUnknown) {
    ShowErrorMessage("扱えない画像ファイルです。");
    return false;
  }
  Bitmap loaded(bitmap.pool());
  LoadReport notes;
  NotingFile(fileName, [&] {
    const InputFile file(fileName);
    switch (kind) {
      case ikBitmap:
        ReadBmp(file, loaded);
        break;
      case ikJpeg:
        ReadJpeg(file, loaded, &notes, context);
        break;
      case ikTiff:
      case ikPng:
      case ikExr:
      case ikHdr:
      case ikWebp:
        LoadImageByContent(file, loaded, &notes, context.keepDepth);
        break;
      case ikUnknown:
        break;
    }
  });
  bitmap.swap(loaded);
  if (report) *report = std::move(notes);
  return true;
}

}  // namespace skyfold
