// The conversion engine: runs a forward job (a panorama into six faces) or
// an inverse job (six faces into a panorama) end to end, the same way for
// the window, the command line and the tests. A front end only describes
// the job (a filer whose properties hold it) and answers the engine's
// questions; the engine drives the filer's operations in their fixed order:
//
//   forward: BuildFileNames, the overwrite question, CheckParameters, the
//            output names, PrepareImageSize, LoadSourceImage, the line
//            "正距円筒画像を立方体表面の画像へ変形します。", WarpImage,
//            SaveCubeFaces;
//   inverse: the overwrite question, CheckParameters, the output name,
//            PrepareImageSize, BuildFileNames, LoadCubeFaces, the line
//            "立方体表面の画像を正距円筒画像へ変形します。", the warp, the line
//            "出力中　" + ImageFileName and SaveImage.
//
// Every file a job writes goes to a temporary name first; the job's files
// are placed under their final names together once the last one is
// complete. A job that is refused, fails or is cancelled leaves every
// existing file as it was and no file of its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "filers/CubeFiler.h"
#include "filers/PanoFiler.h"
#include "filers/RunContext.h"

namespace skyfold {

struct JobResult {
  enum class Status { Done, Refused, Failed, Cancelled };
  Status status = Status::Done;
  // Failed, Cancelled: what the user is told. Refused: empty when the
  // filer's check has shown its message already, else what the user is told
  // (a source that cannot be read, a job over the memory budget).
  std::string message;
  // Failed, Refused with a message: the reason behind the message (the
  // library's own words) and the file it concerns, when known.
  std::string detail;
  std::string file;
  // Done: the full paths of the files written, in face order.
  std::vector<std::string> written;
};

struct JobQuestions {
  // Asked where the window asks whether to overwrite (after the face names
  // of a forward job, first thing in an inverse job); false stops the job
  // with nothing written. Unset: go on.
  std::function<bool()> mayWrite;
  // Whether a file already under an output name may be replaced when the
  // job's files are put in place. When not, such a file (even one that
  // appears while the job runs) fails the job and nothing is placed.
  bool replaceExisting = true;
};

JobResult RunForwardJob(TCubeFiler& filer, RunContext& run, const JobQuestions& questions = {});
JobResult RunInverseJob(TPanoFiler& filer, RunContext& run, const JobQuestions& questions = {});

// The text a failure shows: the exception's own message, one wording for
// memory.
std::string FailureMessage(const std::exception& error);

}  // namespace skyfold
