// to-cube: each panorama as a forward job on a TCubeFiler: the options
// become the filer's properties, the engine runs the job, and without
// --force any existing face refuses the job before anything is written.
// Jobs run one after another; a refused or failed job does not stop the
// next, a cancelled one stops the command.
#include <string>

#include "cli/JobReport.h"
#include "cli/Jobs.h"
#include "cli/OutputTypes.h"
#include "cli/Progress.h"
#include "filers/ConversionEngine.h"
#include "filers/CubeFiler.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold::cli {

namespace {

// The TImageSize ordinal of a face edge, or −1 when the edge is not offered.
int ImageSizeOrdinal(int edge) {
  for (int ordinal = is64; ordinal <= is4096; ++ordinal) {
    if ((64 << ordinal) == edge) return ordinal;
  }
  return -1;
}

// The folder asked for, else the panorama's own ("." for a bare name).
std::string OutputFolder(const ToCubeOptions& options, const std::string& panorama) {
  if (!options.outputDir.empty()) return options.outputDir;
  const std::string folder = ExtractFilePath(panorama);
  return folder.empty() ? std::string(1, '.') : folder;
}

int RunOne(const ToCubeOptions& options, const std::string& panorama, ProgressPrinter& printer,
           std::ostream& out) {
  TCubeFiler filer;
  filer.OnProgress = printer.Event();
  filer.SetImageFileName(panorama);
  // The base filer's output folder is the folder part of SceneFilename.
  filer.SetSceneFilename(IncludeTrailingPathDelimiter(OutputFolder(options, panorama)));
  filer.SetTextureBasename(options.baseName.empty() ? ChangeFileExt(ExtractFileName(panorama), "")
                                                    : options.baseName);
  filer.SetCubeSuffix(options.digitSuffix ? csZero : csLeft);
  filer.SetExtractImageType(options.type);
  filer.SetImageSize(static_cast<TImageSize>(ImageSizeOrdinal(options.size)));
  filer.Options.resample = options.resample;
  filer.SetTopRotate(options.rotateTop);
  filer.SetChangeLeftRight(options.swapLeftRight);
  filer.Options.arrangement = options.arrangement;
  filer.Options.output = options.outputOptions;

  JobQuestions questions;
  questions.replaceExisting = options.force;
  if (!options.force) {
    questions.mayWrite = [&filer] {
      for (const std::string& path : filer.OutputPaths()) {
        if (FileExists(path)) {
          ShowErrorMessage(path + ": the file already exists (use --force to replace it)");
          return false;
        }
      }
      return true;
    };
  }
  RunContext run(options.run.threads, options.run.cancel);
  run.memoryBudget = options.run.maxMemory;
  const JobResult result = RunForwardJob(filer, run, questions);
  return ReportJob(result, printer, out);
}

}  // namespace

int RunToCube(const ToCubeOptions& options, std::ostream& out, std::ostream& err) {
  if (ImageSizeOrdinal(options.size) < 0) {
    err << "--size: " << options.size << " not in {64,128,256,512,1024,2048,4096}\n";
    return kExitUsage;
  }
  const std::int32_t edge = options.resample.faceEdge;
  if (edge != 0 && (edge < 8 || edge > 16384)) {
    err << "--size: " << edge << " not in 8 … 16384\n";
    return kExitUsage;
  }
  if (options.type > eiTiffFloat) {
    err << "--type: not one of " << OutputTypeList() << "\n";
    return kExitUsage;
  }
  if (!options.baseName.empty() && options.panoramas.size() > 1) {
    err << "--base-name: only allowed with a single PANORAMA\n";
    return kExitUsage;
  }

  ProgressPrinter printer(err, options.quiet);
  // Validation messages share the stream with the progress lines.
  const ScopedErrorMessageSink sink([&](const std::string& text) { printer.Message(text); });

  int status = kExitOk;
  for (const std::string& panorama : options.panoramas) {
    const int job = RunOne(options, panorama, printer, out);
    if (job == kExitCancelled) return job;
    status = CombineStatus(status, job);
  }
  return status;
}

}  // namespace skyfold::cli
