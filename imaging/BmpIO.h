// Windows BMP: our own reader (every header variant and bit depth, keeping
// the stored pixel format) and an uncompressed 24-bit writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/Bitmap.h"

namespace skyfold {

class OutputCommit;

// Decodes a BMP held in memory. Anything invalid, truncated or absurdly large
// throws CodecError "ビットマップイメージが不正です".
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);
void ReadBmpFile(const std::string& fileName, Bitmap& bitmap);

// Writes an uncompressed Windows BMP of 24 bits per pixel (a 32-bit bitmap
// drops its fourth byte, a palette bitmap is expanded). Throws FileError.
void SaveBitmapAsBmp(const std::string& fileName, const Bitmap& bitmap,
                     OutputCommit* commit = nullptr);

}  // namespace skyfold
