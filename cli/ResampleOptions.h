// The command-line options of the general resampler: the view's turn, the
// filter, and sizes beyond the classic (any face edge, any even panorama
// width, or "auto"). With none of them a job stays on the classic path.
#pragma once

#include <CLI/CLI.hpp>

#include "filers/JobOptions.h"

namespace skyfold::cli {

// --yaw, --pitch, --roll (degrees) and --filter on a command.
void AddResampleOptions(CLI::App& command, ResampleOptions& options);
// -s/--size of to-cube: a classic edge goes to `size`; any other edge
// (8 … 16384) or "auto" to options.
void AddFaceSizeOption(CLI::App& command, int& size, ResampleOptions& options);
// -w/--width of to-pano: likewise, any even width 64 … 65500 or "auto".
void AddPanoramaWidthOption(CLI::App& command, int& width, ResampleOptions& options);

// True for the face edges and panorama widths the classic conversion offers.
bool IsDesignFaceEdge(int edge);
bool IsDesignPanoramaWidth(int width);

}  // namespace skyfold::cli
