#include "imaging/OutputFormats.h"

#include <cctype>

#include "imaging/OutputFile.h"

namespace skyfold {

const std::vector<OutputFormat>& OutputFormats() {
  static const std::vector<OutputFormat> formats{
      {"png", ".png", SampleType::U16, true, EncodePng},
      {"exr", ".exr", SampleType::F32, true, EncodeExr},
      {"hdr", ".hdr", SampleType::F32, false, EncodeHdr},
      {"webp", ".webp", SampleType::U8, true, EncodeWebpLossy},
      {"webp-lossless", ".webp", SampleType::U8, true, EncodeWebpLossless},
      {"tif16", ".tif", SampleType::U16, true, EncodeTiff16},
      {"tiff-float", ".tif", SampleType::F32, true, EncodeTiffFloat},
  };
  return formats;
}

const OutputFormat* FindOutputFormat(std::string_view name) {
  for (const OutputFormat& format : OutputFormats()) {
    const std::string_view own = format.name;
    if (own.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < own.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(name[i])) == own[i];
    }
    if (same) return &format;
  }
  return nullptr;
}

void SaveBitmapAs(const OutputFormat& format, const std::string& fileName, const Bitmap& bitmap,
                  const ImageMetadata& metadata, OutputCommit* commit) {
  OutputFile file(fileName, commit);  // the name is checked before the work
  WriteWithMetadata(file, format.encode(bitmap), metadata);
  file.close();
}

}  // namespace skyfold
