// skyfold-cli: the command-line front end. Parses the two commands into the
// job options of cli/Jobs.h and maps the outcome to the exit status: 0 every
// job done, 1 a job refused, 2 a usage error, 3 a job failed while running.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/ArrangementOptions.h"
#include "cli/Jobs.h"
#include "cli/OutputTypes.h"
#include "cli/ResampleOptions.h"
#include "filers/ConversionEngine.h"
#include "filers/MemoryBudget.h"
#include "imaging/Cancel.h"
#include "imaging/Errors.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold::cli {

namespace {

constexpr const char* kVersion = "skyfold-cli 0.1.0";

// The -t names in any case; nothing else (the option's check lists them,
// so a name that gets here unknown is a usage error, never a silent TIFF).
std::optional<TExtractImageType> TypeFromName(std::string name) {
  return ExtractImageTypeFromName(std::move(name));
}

// SIGINT and SIGTERM cancel the running job: they are blocked in every
// thread and taken by one thread that sets the token, so the job stops at
// its next check and removes what it had begun. A second signal ends the
// process at once (its temporary files are removed by the next run).
void CancelOnSignals(std::shared_ptr<CancelToken> token) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  try {
    std::thread([signals, token = std::move(token)] {
      for (int received = 0;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (++received > 1) _exit(kExitCancelled);
        token->Cancel();
      }
    }).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);  // no watcher: default handling
  }
}

int Run(int argc, char** argv) {
  CLI::App app{"Converts an equirectangular panorama into six cube faces and back.", "skyfold-cli"};
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);

  int threads = 0;
  app.add_option("--threads", threads, "worker threads for the pixel loops (default: all cores)")
      ->check(CLI::Range(1, 4096));
  std::string maxMemory;
  app.add_option("--max-memory", maxMemory,
                 "memory a job may take, e.g. 4G or 512M (default: three quarters of the "
                 "physical memory); a larger job is refused before it starts")
      ->check([](const std::string& text) {
        return ParseByteSize(text) == 0 ? "not a size such as 4G, 512M or 1.5GiB" : "";
      });

  const std::vector<std::string> typeNames = OutputTypeNames();

  ToCubeOptions cube;
  std::string cubeType = "jpg";
  CLI::App* toCube = app.add_subcommand("to-cube", "convert panoramas into six cube faces");
  toCube->fallthrough();
  toCube->add_option("PANORAMA", cube.panoramas, "the equirectangular panoramas")->required();
  toCube->add_option("-o,--output-dir", cube.outputDir,
                     "folder for the faces (default: the panorama's own folder)");
  toCube->add_option("-n,--base-name", cube.baseName,
                     "base name of the face files (default: the panorama's file name without "
                     "its extension); only with a single PANORAMA");
  AddFaceSizeOption(*toCube, cube.size, cube.resample);
  AddResampleOptions(*toCube, cube.resample);
  toCube
      ->add_option("-t,--type", cubeType,
                   OutputTypeList() + ", in any case; jpeg and tiff too (default jpg)")
      ->check(CLI::IsMember(typeNames, CLI::ignore_case));
  AddOutputOptions(*toCube, cube.outputOptions);
  toCube->add_flag("--digit-suffix", cube.digitSuffix,
                   "name the faces _0 … _5 instead of _left … _bottom");
  toCube->add_flag("--rotate-top", cube.rotateTop, "turn the top face by 180 degrees");
  toCube->add_flag("--swap-left-right", cube.swapLeftRight,
                   "exchange the left and right face file names");
  AddArrangementOptions(toCube, cube.arrangement, false);
  toCube->add_flag("-f,--force", cube.force, "replace existing output files");
  toCube->add_flag("-q,--quiet", cube.quiet, "print no progress lines");

  ToPanoOptions pano;
  std::string panoType;
  CLI::App* toPano = app.add_subcommand("to-pano", "convert six cube faces into a panorama");
  toPano->fallthrough();
  toPano->add_option("FACE", pano.face, "any one of the six face files")->required();
  toPano->add_option("-o,--output", pano.output, "the panorama file to write")->required();
  AddPanoramaWidthOption(*toPano, pano.width, pano.resample);
  AddResampleOptions(*toPano, pano.resample);
  toPano
      ->add_option(
          "-t,--type", panoType,
          OutputTypeList() +
              ", in any case; jpeg and tiff too (default: from the extension of the output, "
              "else tif)")
      ->check(CLI::IsMember(typeNames, CLI::ignore_case));
  AddArrangementOptions(toPano, pano.arrangement, true);
  AddOutputOptions(*toPano, pano.outputOptions);
  toPano->add_flag("-f,--force", pano.force, "replace an existing output file");
  toPano->add_flag("-q,--quiet", pano.quiet, "print no progress lines");

  TestPatternOptions pattern;
  CLI::App* testPattern =
      app.add_subcommand("test-pattern", "write a labelled test panorama (each face's name on it)");
  testPattern->fallthrough();
  testPattern->add_option("OUTPUT", pattern.output, "the panorama file (.bmp, .jpg or .tif)")
      ->required();
  testPattern->add_option("-w,--width", pattern.width, "panorama width (default 2048)")
      ->check(CLI::IsMember({256, 512, 1024, 2048, 4096, 8192}));
  testPattern->add_flag("-f,--force", pattern.force, "replace an existing file");

  std::optional<TExtractImageType> cubeKind, panoKind;
  try {
    app.parse(argc, argv);
    if (toCube->parsed() && !cube.baseName.empty() && cube.panoramas.size() > 1) {
      throw CLI::ValidationError("--base-name", "only allowed with a single PANORAMA");
    }
    if (toCube->parsed()) {
      CheckArrangement(cube.arrangement);
      if (!IsDesignArrangement(cube.arrangement) && (cube.rotateTop || cube.swapLeftRight)) {
        throw CLI::ValidationError("--rotate-top/--swap-left-right",
                                   "only with the design's six files (no --preset, --layout or "
                                   "--name)");
      }
      if (cube.arrangement.preset != "design" && cube.digitSuffix) {
        throw CLI::ValidationError("--digit-suffix", "only with --preset design");
      }
    }
    if (toPano->parsed()) CheckArrangement(pano.arrangement);
    cubeKind = TypeFromName(cubeType);
    if (!panoType.empty()) panoKind = TypeFromName(panoType);
    if (!cubeKind || (!panoType.empty() && !panoKind)) {
      throw CLI::ValidationError("--type", "must be one of " + OutputTypeList());
    }
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    app.exit(e, std::cout, std::cerr);
    return kExitUsage;
  }

  RunOptions run;
  run.threads = threads;
  if (!maxMemory.empty()) run.maxMemory = ParseByteSize(maxMemory);
  CancelOnSignals(run.cancel);
  cube.run = run;
  pano.run = run;
  const ScopedErrorMessageSink sink([](const std::string& text) {
    std::cerr << text << '\n' << std::flush;
  });

  if (testPattern->parsed()) return RunTestPattern(pattern, std::cout, std::cerr);
  if (toCube->parsed()) {
    cube.type = *cubeKind;
    return RunToCube(cube, std::cout, std::cerr);
  }
  if (panoKind) pano.type = *panoKind;
  return RunToPano(pano, std::cout, std::cerr);
}

}  // namespace
}  // namespace skyfold::cli

int main(int argc, char** argv) {
  // A closed stdout (a pipe whose reader has gone) must not kill the run in
  // the middle of writing its files: writes fail with EPIPE instead.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return skyfold::cli::Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << skyfold::kOutOfMemoryMessage << '\n';
  } catch (const std::exception& e) {
    std::cerr << skyfold::DescribeError(e) << '\n';
  }
  return skyfold::cli::kExitFailed;
}
