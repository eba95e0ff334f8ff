#include "imaging/OutputFormats.h"

#include <cctype>

#include "imaging/OutputFile.h"

namespace skyfold {

const std::vector<OutputFormat>& OutputFormats() {
  static const std::vector<OutputFormat> formats{
      {"png", ".png", SampleType::U16, true, SavePng},
      {"exr", ".exr", SampleType::F32, true, SaveExr},
      {"hdr", ".hdr", SampleType::F32, false, SaveHdr},
      {"webp", ".webp", SampleType::U8, true, SaveWebpLossy},
      {"webp-lossless", ".webp", SampleType::U8, true, SaveWebpLossless},
      {"tif16", ".tif", SampleType::U16, true, SaveTiff16},
      {"tiff-float", ".tif", SampleType::F32, true, SaveTiffFloat},
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
  format.save(file, bitmap, metadata);
  file.close();
}

}  // namespace skyfold
