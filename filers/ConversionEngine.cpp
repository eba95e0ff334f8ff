#include "filers/ConversionEngine.h"

#include <algorithm>
#include <exception>
#include <new>

#include "filers/ResampledJobs.h"
#include "filers/SphereResampler.h"
#include "filers/StripBlend.h"
#include "imaging/OutputFile.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"

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

// Runs body, turning what it throws into the job's result.
template <typename Body>
JobResult Guard(Body&& body) {
  try {
    return body();
  } catch (const Cancelled& e) {
    return JobResult{JobResult::Status::Cancelled, e.what(), {}};
  } catch (const std::exception& e) {
    return JobResult{JobResult::Status::Failed, FailureMessage(e), {}};
  }
}

JobResult Refused() { return JobResult{JobResult::Status::Refused, {}, {}}; }

// Progress events each stage reports, for the run's fraction: the lines of
// the table (5), the warp's dots and the face cutting.
std::int64_t WarpEvents(int height) {
  const int step = RowsPerProgressDot(height);
  return 1 + 5 + 1 + 4 * (1 + (height + step - 1) / step);
}

}  // namespace

std::string FailureMessage(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "メモリが不足しています。";
  return error.what();
}

JobResult RunForwardJob(TCubeFiler& filer, RunContext& run, const JobQuestions& questions) {
  OutputCommit commit(questions.replaceExisting);
  const RunBinding binding(filer, run, commit);
  return Guard([&] {
    run.BeginStage(RunStage::Preparing);
    filer.BuildFileNames();
    if (questions.mayWrite && !questions.mayWrite()) return Refused();
    if (!filer.CheckParameters()) return Refused();
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < filer.FileNames.size() && i < 6; ++i) {
      paths.push_back(filer.OutputPath(filer.FileNames[i]));
    }
    if (!OutputNamesUsable(paths)) return Refused();

    Bitmap bitmap(&run.memory());
    // A source still being decoded writes into bitmap: the decode ends
    // before bitmap does, however the job ends.
    const SourceDecodeEnd decodeEnd(run);
    filer.PrepareImageSize();
    if (UsesGeneralResampler(filer.Options.resample)) {
      if (!ResampleCubeFaces(filer, bitmap)) return Refused();
    } else {
      run.BeginStage(RunStage::Loading, 2);
      // The warp comes next: it may follow the decoder.
      run.streamSource = true;
      if (!filer.LoadSourceImage(bitmap)) return Refused();
      run.BeginStage(RunStage::Warping, WarpEvents(bitmap.height()));
      filer.DoProgress("正距円筒画像を立方体表面の画像へ変形します。", spAppend);
      filer.WarpImage(bitmap);
      run.BeginStage(RunStage::Writing, 1 + 6 + 2 + 8);
      filer.SaveCubeFaces(bitmap);
    }
    bitmap = Bitmap();
    run.BeginStage(RunStage::Committing);
    run.cancel().Check();
    const std::vector<std::string> placed = commit.Commit();
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
    // Read once: the warp and the saving use the name the run started with.
    const std::string output = filer.GetImageFileName();
    if (!OutputNamesUsable({output})) return Refused();

    Bitmap bitmap(&run.memory());
    filer.PrepareImageSize();
    filer.BuildFileNames();
    if (UsesGeneralResampler(filer.Options.resample)) {
      if (!ResamplePanorama(filer, output, "出力中　" + output)) return Refused();
    } else {
      run.BeginStage(RunStage::Loading, 6 * 3);
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
