// Image kind, loading and rotations.
//
// GetImageFileKind decides by extension; LoadImageFile reads BMP and JPEG
// with our own readers and hands ".TIF"/".TIFF" names to the content-sniffing
// decoder registry of codecs/. Decoder failures throw CodecError carrying the
// user-facing message; an unknown extension shows "扱えない画像ファイルです。"
// through ShowErrorMessage and returns normally.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/DecodeContext.h"
#include "imaging/ImageInfo.h"

namespace skyfold {

// Kinds 4 … 7 are read beyond the classic three; like TIFF names they are
// decoded by content.
enum TImageFileKind : std::uint8_t {
  ikUnknown = 0,
  ikBitmap = 1,
  ikJpeg = 2,
  ikTiff = 3,
  ikPng = 4,
  ikExr = 5,
  ikHdr = 6,
  ikWebp = 7
};

// As seen on screen with y growing downwards: clockwise moves the top edge to
// the right edge, counter-clockwise moves it to the left edge.
enum TRotateDirection : std::uint8_t { rdClockwise = 0, rdCounterClockwise = 1 };

// ".BMP" → ikBitmap, ".JPG"/".JPEG" → ikJpeg, ".TIF"/".TIFF" → ikTiff,
// ".PNG" → ikPng, ".EXR" → ikExr, ".HDR" → ikHdr, ".WEBP" → ikWebp, in any
// case; anything else (or no extension) → ikUnknown. Never touches the file.
TImageFileKind GetImageFileKind(const std::string& fileName);

// Replaces bitmap by the decoded image, in the pixel format its decoder
// produced. Returns true when the bitmap was loaded; false, with the bitmap
// unchanged, when nothing exists at that name (silently) or the extension is
// not accepted (after the message). A folder, FIFO or device throws
// NotAFileError before anything is read. Throws CodecError / MemoryError /
// FileError on decoder failures. report, when given, learns whether the
// file was incomplete (it was still loaded).
// The new pixels come from bitmap's pool.
bool LoadImageFile(Bitmap& bitmap, const std::string& fileName, LoadReport* report = nullptr,
                   const DecodeContext& context = {});

// In-place quarter and half turns of bitmaps of direct formats (whole pixels,
// fourth byte included). Other formats throw ArgumentError
// "PixelFormat is not Available." before anything changes; on any failure
// the bitmap is left untouched.
void RotateBitmap90(Bitmap& bitmap, TRotateDirection direction, const Workers& workers = {});
void RotateBitmap180(Bitmap& bitmap, const Workers& workers = {});

}  // namespace skyfold
