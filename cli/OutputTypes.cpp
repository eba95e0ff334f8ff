#include "cli/OutputTypes.h"

#include "imaging/OutputFormats.h"
#include "imaging/SimImgUtils.h"

namespace skyfold::cli {

std::vector<std::string> OutputTypeNames() {
  std::vector<std::string> names{"bmp", "jpg", "jpeg", "tif", "tiff"};
  for (const OutputFormat& format : OutputFormats()) names.emplace_back(format.name);
  return names;
}

std::optional<TExtractImageType> OutputTypeFromName(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (name == "bmp") return eiBitmap;
  if (name == "jpg" || name == "jpeg") return eiJpeg;
  if (name == "tif" || name == "tiff") return eiTiff;
  const auto& formats = OutputFormats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    if (name == formats[i].name) return static_cast<TExtractImageType>(eiPng + i);
  }
  return std::nullopt;
}

TExtractImageType OutputTypeFromExtension(const std::string& fileName) {
  switch (GetImageFileKind(fileName)) {
    case ikBitmap:
      return eiBitmap;
    case ikJpeg:
      return eiJpeg;
    case ikPng:
      return eiPng;
    case ikExr:
      return eiExr;
    case ikHdr:
      return eiHdr;
    case ikWebp:
      return eiWebp;
    default:
      return eiTiff;
  }
}

std::string OutputTypeList() {
  std::string list = "bmp, jpg or tif";
  for (const OutputFormat& format : OutputFormats()) list += std::string(", ") + format.name;
  return list;
}

void AddOutputOptions(CLI::App& command, OutputOptions& options) {
  command.add_flag("--strip-metadata", options.stripMetadata,
                   "write no colour profile, EXIF or XMP into the results");
}

}  // namespace skyfold::cli
