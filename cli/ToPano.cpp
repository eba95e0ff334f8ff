// to-pano: six cube faces into one equirectangular panorama, as an inverse
// job on a TPanoFiler run by the engine. Validation messages and failures
// go to err; out lists the written file.
#include <string>

#include "cli/JobReport.h"
#include "cli/Jobs.h"
#include "cli/OutputTypes.h"
#include "cli/Progress.h"
#include "filers/ConversionEngine.h"
#include "filers/PanoFiler.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold::cli {

namespace {

// 256 << ordinal; -1 for a width that is not offered.
int PanoSizeOrdinal(int width) {
  for (int ordinal = ps256; ordinal <= ps16384; ++ordinal) {
    if (256 << ordinal == width) return ordinal;
  }
  return -1;
}

}  // namespace

int RunToPano(const ToPanoOptions& options, std::ostream& out, std::ostream& err) {
  const int ordinal = PanoSizeOrdinal(options.width);
  if (ordinal < 0) {
    err << "--width: " << options.width << " not in {256,512,1024,2048,4096,8192,16384}\n";
    return kExitUsage;
  }
  const std::int32_t custom = options.resample.panoramaWidth;
  if (custom != 0 && (custom < 64 || custom > 65500 || custom % 2 != 0)) {
    err << "--width: " << custom << " not an even width 64 … 65500\n";
    return kExitUsage;
  }
  if (options.type && *options.type > eiTiffFloat) {
    err << "--type: not one of " << OutputTypeList() << "\n";
    return kExitUsage;
  }

  ProgressPrinter printer(err, options.quiet);
  // Validation messages share the stream with the progress lines.
  const ScopedErrorMessageSink sink([&](const std::string& text) { printer.Message(text); });

  TPanoFiler filer;
  filer.OnProgress = printer.Event();
  // The face name goes in as typed, so the suffix rule judges what the user
  // wrote; the output is written exactly to the given name.
  filer.SetCubeImageFileName(options.face);
  filer.SetImageFileName(options.output);
  filer.SetPanoImageSize(static_cast<TPanoImageSize>(ordinal));
  filer.SetExtractImageType(options.type ? *options.type : OutputTypeFromExtension(options.output));
  filer.Options.output = options.outputOptions;
  filer.Options.arrangement = options.arrangement;
  filer.Options.resample = options.resample;

  JobQuestions questions;
  questions.replaceExisting = options.force;
  if (!options.force) {
    questions.mayWrite = [&filer] {
      const std::string output = filer.GetImageFileName();
      if (!FileExists(output)) return true;
      ShowErrorMessage(ExpandFileName(output) +
                       ": the file already exists (use --force to replace it)");
      return false;
    };
  }
  RunContext run(options.run.threads, options.run.cancel);
  run.memoryBudget = options.run.maxMemory;
  return ReportJob(RunInverseJob(filer, run, questions), printer, out);
}

}  // namespace skyfold::cli
