// The jobs behind skyfold-cli's two commands. Each describes its job on a
// filer and runs it through the conversion engine, as the window does, and
// prints the same progress lines (to err, flushed as they grow); out lists
// each file written, one full path per line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "filers/JobOptions.h"
#include "filers/SimFilers.h"
#include "imaging/Cancel.h"

namespace skyfold::cli {

enum ExitStatus : int {
  kExitOk = 0,           // every job done
  kExitRefused = 1,      // a job was refused (validation, unaccepted source, existing output)
  kExitUsage = 2,        // unknown option or bad value
  kExitFailed = 3,       // a job failed while running (decoder, writer, memory)
  kExitCancelled = 130,  // stopped by SIGINT or SIGTERM: nothing written
};

// What every job of one invocation shares.
struct RunOptions {
  int threads = 0;              // ≤ 0: one per core
  std::uint64_t maxMemory = 0;  // bytes a job may take; 0: the run's default share
  // Set by the signal handling; every job checks it.
  std::shared_ptr<CancelToken> cancel = std::make_shared<CancelToken>();
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
  FaceArrangement arrangement;
  bool force = false;
  bool quiet = false;
  OutputOptions outputOptions;  // depth and metadata
  // A turned view, a filter, sizes beyond the classic: the general
  // resampler (size then stays a classic edge, for the filer's ordinal).
  ResampleOptions resample;
  RunOptions run;
};

struct ToPanoOptions {
  std::string face;                       // as typed
  std::string output;                     // required
  int width = 8192;                       // 256 … 16384
  std::optional<TExtractImageType> type;  // default: from the output's extension, else tif
  FaceArrangement arrangement;
  bool force = false;
  bool quiet = false;
  OutputOptions outputOptions;  // depth and metadata
  ResampleOptions resample;
  RunOptions run;
};

// Both return an ExitStatus; several panoramas run one after another and
// kExitFailed wins over kExitRefused. A cancelled job ends the command with
// kExitCancelled after the line "キャンセルしました。". out lists each file
// written (full paths) once its job is complete; a failed write to out is
// reported on err and makes the status kExitFailed.
int RunToCube(const ToCubeOptions& options, std::ostream& out, std::ostream& err);
int RunToPano(const ToPanoOptions& options, std::ostream& out, std::ostream& err);

// test-pattern: a labelled panorama, each face's name written on it.
struct TestPatternOptions {
  std::string output;
  int width = 2048;
  bool force = false;
};
int RunTestPattern(const TestPatternOptions& options, std::ostream& out, std::ostream& err);

}  // namespace skyfold::cli
