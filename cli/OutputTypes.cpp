#include "cli/OutputTypes.h"

#include "imaging/OutputFormats.h"
#include "imaging/SimImgUtils.h"

namespace skyfold::cli {

std::vector<std::string> OutputTypeNames() {
  std::vector<std::string> names{"bmp", "jpg", "jpeg", "tif", "tiff"};
  for (const OutputFormat& format : OutputFormats()) names.emplace_back(format.name);
  return names;
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
