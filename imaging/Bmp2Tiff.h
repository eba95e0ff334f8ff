// The TIFF writer: one fixed, uncompressed little-endian RGB layout (small
// blocks first, then the pixels, the directory last), written byte for byte
// by our own code because libtiff cannot produce this exact layout.
#pragma once

#include <ostream>
#include <string>

#include "imaging/Bitmap.h"

namespace skyfold {

class OutputCommit;

// Creates (or replaces) fileName and writes bitmap into it. Throws FileError
// "ファイル "%s" を作成できません。%s" when the file cannot be created, and
// FileError naming the file when a write, flush or close fails.
void SaveBitmapAsTiff(const std::string& fileName, const Bitmap& bitmap,
                      OutputCommit* commit = nullptr);

// Writes bitmap (24 or 32 bits; an empty bitmap writes nothing) into a new,
// empty stream at position 0, leaving it just after the patched header
// field. Throws FileError when the stream fails.
void WriteBitmapAsTiff(std::ostream& stream, const Bitmap& bitmap);

}  // namespace skyfold
