// The output types beyond the classic BMP, JPEG and fixed-layout TIFF: each
// is an encoder (one file each, *Writer.cpp) that turns a bitmap of any
// direct format into the file's bytes, registered once in OutputFormats.cpp.
// Samples are written as deep as the type holds and the bitmap has; alpha is
// written where the type holds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ImageMetadata.h"

namespace skyfold {

class OutputCommit;

using EncodedFile = std::vector<std::uint8_t>;

struct OutputFormat {
  const char* name;       // the -t name: "png", "exr", ...
  const char* extension;  // ".png"
  // The deepest samples the type holds, and whether it holds alpha.
  SampleType deepest;
  bool alpha;
  EncodedFile (*encode)(const Bitmap& bitmap);
};

// Registered types in their order: png, exr, hdr, webp, webp-lossless,
// tif16, tiff-float.
const std::vector<OutputFormat>& OutputFormats();
// By name, in any case; nullptr for a name not registered.
const OutputFormat* FindOutputFormat(std::string_view name);

// Encodes bitmap, adds the metadata the type can hold (ImageMetadata.h) and
// writes the file through OutputFile (whole or not at all).
void SaveBitmapAs(const OutputFormat& format, const std::string& fileName, const Bitmap& bitmap,
                  const ImageMetadata& metadata, OutputCommit* commit = nullptr);

// The encoders.
EncodedFile EncodePng(const Bitmap& bitmap);
EncodedFile EncodeExr(const Bitmap& bitmap);
EncodedFile EncodeHdr(const Bitmap& bitmap);
EncodedFile EncodeWebpLossy(const Bitmap& bitmap);
EncodedFile EncodeWebpLossless(const Bitmap& bitmap);
EncodedFile EncodeTiff16(const Bitmap& bitmap);
EncodedFile EncodeTiffFloat(const Bitmap& bitmap);

}  // namespace skyfold
