// The header probe: what a source declares (size, samples, the memory its
// load will take), read without decoding a pixel or allocating for the
// image, so that a run can refuse a job over its memory budget before it
// starts.
#pragma once

#include <string>

#include "imaging/ImageInfo.h"

namespace skyfold {

// Reads the header of fileName with the decoder LoadImageFile would use
// (".BMP" the BMP reader, ".JPG"/".JPEG" the JPEG reader, anything else the
// decoder its content picks: TIFF, PNG, JPEG or BMP) and makes every check
// that decoder makes before allocating: a zero size, a size beyond the
// bitmap limits, a size the stored data cannot describe, a missing or short
// palette, strip tables that disagree with the size. It never blocks: the
// name is checked to be a regular file first.
//
// Throws what LoadImageFile would: NotAFileError (folder, FIFO, device),
// FileError (missing, unreadable), CodecError, MemoryError (too large).
ImageHeader ProbeImageFile(const std::string& fileName);

}  // namespace skyfold
