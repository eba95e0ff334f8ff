#include "filers/ConversionEngine.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
#include <system_error>

#include "filers/DeepCube.h"
#include "filers/MemoryBudget.h"
#include "filers/OutputFolders.h"
#include "filers/ResampledJobs.h"
#include "filers/SphereResampler.h"
#include "filers/StripBlend.h"
#include "imaging/Errors.h"
#include "imaging/ImageProbe.h"
#include "imaging/InputFile.h"
#include "imaging/OutputFile.h"
#include "imaging/OutputFormats.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

namespace {

// Binds a filer to a run for as long as it lives.
class RunBinding {
 public:
  RunBinding(TSimFiler& filer, RunContext& run, OutputCommit& commit) : filer_(filer), run_(run) {
    filer_.UseRunContext(&run_);
    run_.outputs = &commit;
  }
  ~RunBinding() {
    run_.DropTable();
    run_.outputs = nullptr;
    filer_.UseRunContext(nullptr);
  }
  RunBinding(const RunBinding&) = delete;
  RunBinding& operator=(const RunBinding&) = delete;

 private:
  TSimFiler& filer_;
  RunContext& run_;
};

class SourceDecodeEnd {
 public:
  explicit SourceDecodeEnd(RunContext& run) : run_(run) {}
  ~SourceDecodeEnd() {
    run_.DropSource();
    run_.streamSource = false;
  }
  SourceDecodeEnd(const SourceDecodeEnd&) = delete;
  SourceDecodeEnd& operator=(const SourceDecodeEnd&) = delete;

 private:
  RunContext& run_;
};

// Refuses a job whose output name cannot be written, before anything is.
bool OutputNamesUsable(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const std::string problem = OutputNameProblem(path);
    if (!problem.empty()) {
      ShowErrorMessage(problem);
      return false;
    }
  }
  return true;
}

JobResult Ended(JobResult::Status status, const std::exception& e) {
  JobResult result;
  result.status = status;
  result.message = FailureMessage(e);
  if (const auto* error = dynamic_cast<const Error*>(&e)) {
    result.detail = error->detail();
    result.file = error->file();
  } else if (result.message != e.what()) {
    result.detail = e.what();
  }
  return result;
}

// Runs body, turning what it throws into the job's result.
template <typename Body>
JobResult Guard(Body&& body) {
  try {
    return body();
  } catch (const Cancelled& e) {
    return JobResult{JobResult::Status::Cancelled, e.what(), {}, {}, {}};
  } catch (const std::exception& e) {
    return Ended(JobResult::Status::Failed, e);
  }
}

// The type Options.output.type names, or the filer's own.
void ApplyOutputType(TSimFiler& filer) {
  if (const auto type = ExtractImageTypeFromName(filer.Options.output.type)) {
    filer.SetExtractImageType(*type);
  }
}

JobResult Refused() { return JobResult{JobResult::Status::Refused, {}, {}, {}, {}}; }

// Whether name is a source the loader will read (the filer's own checks
// speak for a missing name or an unknown extension).
bool Probeable(const std::string& name) {
  return IsRegularFile(name) && GetImageFileKind(name) != ikUnknown;
}

// The job refused over the run's budget, or nothing.
std::optional<JobResult> OverBudget(RunContext& run, std::uint64_t needed,
                                    const std::string& fileName, const ImageHeader& header) {
  const std::uint64_t budget = run.MemoryBudget();
  if (needed <= budget) return std::nullopt;
  JobResult result = Refused();
  result.message = OverBudgetMessage(fileName, header, needed, budget);
  result.file = ExpandFileName(fileName);
  return result;
}

// Reads the source's header before anything is allocated for it and
// refuses a job over budget. A header the decoder refuses is left to the
// load, which reports it where the run always has.
std::optional<JobResult> CheckSource(RunContext& run, const std::string& source,
                                     const ResampleOptions& resample, int faceEdge, bool arranged) {
  if (!Probeable(source)) return std::nullopt;
  ImageHeader header;
  try {
    header = ProbeImageFile(source);
  } catch (const std::exception&) {
    return std::nullopt;  // the load fails with it, in its place in the run
  }
  if (resample.faceEdge > 0) faceEdge = resample.faceEdge;
  if (resample.autoSize && header.width > 0 && header.width <= 65535) {
    faceEdge = AutoFaceEdge(static_cast<int>(header.width));
  }
  return OverBudget(run, ForwardJobBytes(header, faceEdge, run.Threads(), arranged), source,
                    header);
}

// The headers of the faces the loader will read, read once for the budget
// and the console; `complete` is false when the decoder refuses one (the load
// reports it, in its place in the run).
struct ProbedFaces {
  std::vector<std::string> names;
  std::vector<ImageHeader> headers;
  bool complete = true;
};

ProbedFaces ProbeFaces(const std::vector<std::string>& faces) {
  ProbedFaces probed;
  for (const std::string& face : faces) {
    if (!Probeable(face)) continue;
    try {
      probed.headers.push_back(ProbeImageFile(face));
    } catch (const std::exception&) {
      probed.complete = false;
      break;
    }
    probed.names.push_back(face);
  }
  return probed;
}

// Whether a face holds more than 8-bit samples (the classic path rounds
// them).
bool AnyDeepFace(const ProbedFaces& faces) {
  return std::any_of(faces.headers.begin(), faces.headers.end(), HoldsDeepSamples);
}

std::optional<JobResult> CheckFaces(RunContext& run, const ProbedFaces& faces,
                                    const ResampleOptions& resample, int panoramaWidth) {
  if (!faces.complete || faces.headers.empty()) return std::nullopt;
  std::size_t largest = 0;
  for (std::size_t i = 0; i < faces.headers.size(); ++i) {
    if (faces.headers[i].peakBytes >= faces.headers[largest].peakBytes) largest = i;
  }
  const ImageHeader& header = faces.headers[largest];
  if (resample.panoramaWidth > 0) panoramaWidth = resample.panoramaWidth;
  if (resample.autoSize && header.width > 0 && header.width <= 16384) {
    panoramaWidth = AutoPanoramaWidth(static_cast<int>(header.width));
  }
  return OverBudget(run, InverseJobBytes(faces.headers, panoramaWidth, run.Threads()),
                    faces.names[largest], header);
}

// Progress events each stage reports, for the run's fraction: the lines of
// the table (5), the warp's dots and the face cutting.
std::int64_t WarpEvents(int height) {
  const int step = RowsPerProgressDot(height);
  return 1 + 5 + 1 + 4 * (1 + (height + step - 1) / step);
}

}  // namespace

std::string FailureMessage(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return kOutOfMemoryMessage;
  // The pool could not start a thread it needed.
  if (const auto* system = dynamic_cast<const std::system_error*>(&error);
      system != nullptr && system->code() == std::errc::resource_unavailable_try_again) {
    return "スレッドを作成できません。";
  }
  return error.what();
}

JobResult RunForwardJob(TCubeFiler& filer, RunContext& run, const JobQuestions& questions) {
  OutputCommit commit(questions.replaceExisting);
  const RunBinding binding(filer, run, commit);
  return Guard([&] {
    run.BeginStage(RunStage::Preparing);
    ApplyOutputType(filer);
    filer.BuildFileNames();
    if (questions.mayWrite && !questions.mayWrite()) return Refused();
    if (!filer.CheckParameters()) return Refused();
    const std::vector<std::string> paths = filer.OutputPaths();
    // A name template may put the faces in folders of their own.
    OutputFolders folders;
    if (!filer.Options.arrangement.nameTemplate.empty()) {
      folders.Make(paths, filer.GetSceneFolder());
    }
    if (!OutputNamesUsable(paths)) return Refused();

    Bitmap bitmap(&run.memory());
    // A source still being decoded writes into bitmap: the decode ends
    // before bitmap does, however the job ends.
    const SourceDecodeEnd decodeEnd(run);
    filer.PrepareImageSize();
    const FaceArrangement& arrangement = filer.Options.arrangement;
    const bool arranged = arrangement.preset != "design" || arrangement.layout != "faces";
    if (auto refusal = CheckSource(run, filer.GetImageFileName(), filer.Options.resample,
                                   filer.OutputSize, arranged)) {
      return *refusal;
    }
    if (UsesGeneralResampler(filer.Options.resample)) {
      if (!ResampleCubeFaces(filer, bitmap)) return Refused();
    } else {
      run.BeginStage(RunStage::Loading, 2);
      // The warp comes next: it may follow the decoder.
      run.streamSource = true;
      if (!filer.LoadSourceImage(bitmap)) return Refused();
      run.BeginStage(RunStage::Warping, WarpEvents(bitmap.height()));
      filer.DoProgress("正距円筒画像を立方体表面の画像へ変形します。", spAppend);
      if (filer.HoldsDeepSource()) {
        run.BeginStage(RunStage::Writing, 1 + 6);
        filer.SaveDeepCubeFaces(bitmap);
      } else {
        filer.WarpImage(bitmap);
        run.BeginStage(RunStage::Writing, 1 + 6 + 2 + 8);
        filer.SaveCubeFaces(bitmap);
      }
    }
    filer.SaveArrangedFaces();
    bitmap = Bitmap();
    run.BeginStage(RunStage::Committing);
    run.cancel().Check();
    const std::vector<std::string> placed = commit.Commit();
    folders.Keep();
    JobResult result;
    // Listed in face order.
    for (const std::string& path : paths) {
      const std::string full = ExpandFileName(path);
      if (std::find(placed.begin(), placed.end(), full) != placed.end()) {
        result.written.push_back(full);
      }
    }
    return result;
  });
}

JobResult RunInverseJob(TPanoFiler& filer, RunContext& run, const JobQuestions& questions) {
  OutputCommit commit(questions.replaceExisting);
  const RunBinding binding(filer, run, commit);
  return Guard([&] {
    run.BeginStage(RunStage::Preparing);
    if (questions.mayWrite && !questions.mayWrite()) return Refused();
    if (!filer.CheckParameters()) return Refused();
    if (!filer.Options.output.type.empty()) {
      ApplyOutputType(filer);
      filer.SetImageFileName(ChangeFileExt(filer.GetImageFileName(),
                                           ExtractImageTypeExt(filer.GetExtractImageType())));
    }
    // Read once: the warp and the saving use the name the run started with.
    const std::string output = filer.GetImageFileName();
    if (!OutputNamesUsable({output})) return Refused();

    Bitmap bitmap(&run.memory());
    filer.PrepareImageSize();
    filer.BuildFileNames();
    const ProbedFaces probed = ProbeFaces(filer.FileNames);
    if (auto refusal = CheckFaces(run, probed, filer.Options.resample, filer.OutputSize)) {
      return *refusal;
    }
    filer.PrepareResultMetadata();
    run.BeginStage(RunStage::Loading, 6 * 3);
    if (filer.UsesDeepFaces()) {
      if (!filer.CheckParameters()) return Refused();
      const bool made = UsesGeneralResampler(filer.Options.resample)
                            ? ResampleDeepPanorama(filer, output)
                            : filer.ConvertDeepFaces(output);
      if (!made) return Refused();
      run.BeginStage(RunStage::Committing);
      run.cancel().Check();
      JobResult result;
      result.written = commit.Commit();
      return result;
    }
    if (AnyDeepFace(probed)) {
      filer.DoProgress(kReducedDepthLine, spAppend);
    }
    if (!filer.LoadArrangedFaces()) return Refused();
    if (UsesGeneralResampler(filer.Options.resample)) {
      if (!ResamplePanorama(filer, output, "出力中　" + output)) return Refused();
    } else {
      if (!filer.LoadCubeFaces(bitmap)) return Refused();
      run.BeginStage(RunStage::Warping, WarpEvents(bitmap.height()));
      filer.DoProgress("立方体表面の画像を正距円筒画像へ変形します。", spAppend);
      filer.WarpAndSaveImage(bitmap, output, "出力中　" + output);
    }
    bitmap = Bitmap();
    run.BeginStage(RunStage::Committing);
    run.cancel().Check();
    JobResult result;
    result.written = commit.Commit();
    return result;
  });
}

}  // namespace skyfold
