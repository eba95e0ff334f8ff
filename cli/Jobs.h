// The jobs behind skyfold-cli's two commands. Each runs the same sequence of
// filer operations as the window's run in its direction and prints the same
// progress lines (to err, flushed as they grow); out lists each file written,
// one full path per line.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "filers/SimFilers.h"

namespace skyfold::cli {

enum ExitStatus : int {
  kExitOk = 0,       // every job done
  kExitRefused = 1,  // a job was refused (validation, unaccepted source, existing output)
  kExitUsage = 2,    // unknown option or bad value
  kExitFailed = 3,   // a job failed while running (decoder, writer, memory)
};

struct ToCubeOptions {
  std::vector<std::string> panoramas;
  std::string outputDir;  // empty: each panorama's own folder
  std::string baseName;   // empty: the panorama's name without extension
  int size = 1024;        // 64 … 4096
  TExtractImageType type = eiJpeg;
  bool digitSuffix = false;
  bool rotateTop = false;
  bool swapLeftRight = false;
  bool force = false;
  bool quiet = false;
};

struct ToPanoOptions {
  std::string face;                       // as typed
  std::string output;                     // required
  int width = 8192;                       // 256 … 16384
  std::optional<TExtractImageType> type;  // default: from the output's extension, else tif
  bool force = false;
  bool quiet = false;
};

// Both return an ExitStatus; several panoramas run one after another and
// kExitFailed wins over kExitRefused.
int RunToCube(const ToCubeOptions& options, std::ostream& out, std::ostream& err);
int RunToPano(const ToPanoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace skyfold::cli
