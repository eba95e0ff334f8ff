// The output types on the command line: the classic bmp, jpg/jpeg and
// tif/tiff, then every registered type (png, exr, hdr, webp, webp-lossless,
// tif16, tiff-float), and the output options beside them.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "filers/JobOptions.h"
#include "filers/SimFilers.h"

namespace skyfold::cli {

// Every -t name, lower case.
std::vector<std::string> OutputTypeNames();
// to-pano's type from the output's extension, in any case: .bmp, .jpg/.jpeg,
// .png, .exr, .hdr, .webp (lossy); anything else (.tif included) the
// classic TIFF.
TExtractImageType OutputTypeFromExtension(const std::string& fileName);
// One line for -t's help: "bmp, jpg, tif, png, ...".
std::string OutputTypeList();

// --strip-metadata.
void AddOutputOptions(CLI::App& command, OutputOptions& options);

}  // namespace skyfold::cli
