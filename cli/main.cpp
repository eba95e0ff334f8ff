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

#include "cli/Jobs.h"
#include "cli/ResampleOptions.h"
#include "filers/ConversionEngine.h"
#include "imaging/Cancel.h"
#include "imaging/Errors.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold::cli {

namespace {

constexpr const char* kVersion = "skyfold-cli 0.1.0";

// The -t names in any case; nothing else (the option's check lists them,
// so a name that gets here unknown is a usage error, never a silent TIFF).
std::optional<TExtractImageType> TypeFromName(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (name == "bmp") return eiBitmap;
  if (name == "jpg" || name == "jpeg") return eiJpeg;
  if (name == "tif" || name == "tiff") return eiTiff;
  return std::nullopt;
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

  const std::vector<std::string> typeNames{"bmp", "jpg", "jpeg", "tif", "tiff"};

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
                   "bmp, jpg or tif, in any case; jpeg and tiff too (default jpg)")
      ->check(CLI::IsMember(typeNames, CLI::ignore_case));
  toCube->add_flag("--digit-suffix", cube.digitSuffix,
                   "name the faces _0 … _5 instead of _left … _bottom");
  toCube->add_flag("--rotate-top", cube.rotateTop, "turn the top face by 180 degrees");
  toCube->add_flag("--swap-left-right", cube.swapLeftRight,
                   "exchange the left and right face file names");
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
          "bmp, jpg or tif, in any case; jpeg and tiff too (default: from the extension of the "
          "output, else tif)")
      ->check(CLI::IsMember(typeNames, CLI::ignore_case));
  toPano->add_flag("-f,--force", pano.force, "replace an existing output file");
  toPano->add_flag("-q,--quiet", pano.quiet, "print no progress lines");

  std::optional<TExtractImageType> cubeKind, panoKind;
  try {
    app.parse(argc, argv);
    if (toCube->parsed() && !cube.baseName.empty() && cube.panoramas.size() > 1) {
      throw CLI::ValidationError("--base-name", "only allowed with a single PANORAMA");
    }
    cubeKind = TypeFromName(cubeType);
    if (!panoType.empty()) panoKind = TypeFromName(panoType);
    if (!cubeKind || (!panoType.empty() && !panoKind)) {
      throw CLI::ValidationError("--type", "must be bmp, jpg, jpeg, tif or tiff");
    }
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    app.exit(e, std::cout, std::cerr);
    return kExitUsage;
  }

  RunOptions run;
  run.threads = threads;
  CancelOnSignals(run.cancel);
  cube.run = run;
  pano.run = run;
  const ScopedErrorMessageSink sink([](const std::string& text) {
    std::cerr << text << '\n' << std::flush;
  });

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
