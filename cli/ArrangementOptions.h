// --preset, --layout and --name, shared by both commands.
#pragma once

#include <CLI/CLI.hpp>

#include "filers/JobOptions.h"

namespace skyfold::cli {

// Adds the three options to command, filling arrangement.
void AddArrangementOptions(CLI::App* command, FaceArrangement& arrangement, bool inverse);
// Throws CLI::ValidationError for a template that gives two faces one name.
void CheckArrangement(const FaceArrangement& arrangement);
bool IsDesignArrangement(const FaceArrangement& arrangement);

}  // namespace skyfold::cli
