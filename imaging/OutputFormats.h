// The output types beyond the classic BMP, JPEG and fixed-layout TIFF: each
// is a writer (one file each, *Writer.cpp) that writes a bitmap of any
// direct format and the metadata the type holds as one whole file,
// registered once in OutputFormats.cpp.
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
class OutputFile;

using EncodedFile = std::vector<std::uint8_t>;

struct OutputFormat {
  const char* name;       // the -t name: "png", "exr", ...
  const char* extension;  // ".png"
  // The deepest samples the type holds, and whether it holds alpha.
  SampleType deepest;
  bool alpha;
  // Writes the whole file into `file` (not yet closed); throws what
  // file.write throws, or CodecError.
  void (*save)(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
};

// Registered types in their order: png, exr, hdr, webp, webp-lossless,
// tif16, tiff-float.
const std::vector<OutputFormat>& OutputFormats();
// By name, in any case; nullptr for a name not registered.
const OutputFormat* FindOutputFormat(std::string_view name);

// Writes bitmap with the metadata the type can hold (ImageMetadata.h)
// through OutputFile (whole or not at all).
void SaveBitmapAs(const OutputFormat& format, const std::string& fileName, const Bitmap& bitmap,
                  const ImageMetadata& metadata, OutputCommit* commit = nullptr);

// The writers.
void SavePng(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
void SaveExr(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
void SaveHdr(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
void SaveWebpLossy(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
void SaveWebpLossless(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
void SaveTiff16(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);
void SaveTiffFloat(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata);

}  // namespace skyfold
