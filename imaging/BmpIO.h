// Windows BMP: our own reader (every header variant and bit depth, keeping
// the stored pixel format) and an uncompressed 24-bit writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/ImageInfo.h"
#include "imaging/InputFile.h"

namespace skyfold {

class OutputCommit;

// Decodes a BMP held in memory. Anything invalid, truncated, absurdly large
// or of zero size, a missing palette or pixels beyond it throw CodecError
// "ビットマップイメージが不正です", the reason in its detail.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);
// The same from a file, which is refused on its header before it is read
// whole. ReadBmpFile opens the name (InputFile: folders, FIFOs and devices
// are refused without a read).
void ReadBmp(const InputFile& file, Bitmap& bitmap);
void ReadBmpFile(const std::string& fileName, Bitmap& bitmap);

// The header alone, with every check DecodeBmp makes before allocating.
ImageHeader ProbeBmp(const InputFile& file);

// Writes an uncompressed Windows BMP of 24 bits per pixel (a 32-bit bitmap
// drops its fourth byte, a palette bitmap is expanded). Throws FileError.
void SaveBitmapAsBmp(const std::string& fileName, const Bitmap& bitmap,
                     OutputCommit* commit = nullptr);

}  // namespace skyfold
