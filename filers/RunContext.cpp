#include "filers/RunContext.h"

#include "filers/MemoryBudget.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

struct RunContext::Prepared {
  int q = 0;
  struct Result {
    TmxCurrencyUV table;
    ProgressRecord lines;
  };
  Task<Result> task;
};

RunContext::RunContext(int threads, std::shared_ptr<CancelToken> cancel)
    : pool_(threads), cancel_(cancel ? std::move(cancel) : std::make_shared<CancelToken>()) {}

RunContext::~RunContext() {
  DropSource();
  DropTable();
}

std::uint64_t RunContext::MemoryBudget() const {
  return memoryBudget != 0 ? memoryBudget : DefaultMemoryBudget();
}

std::optional<RunContext::JpegSource> RunContext::ParallelJpeg(const std::string& fileName) {
  int w = 0, h = 0, components = 0;
  if (Threads() < 2 || GetImageFileKind(fileName) != ikJpeg ||
      !ReadJpegSize(fileName, w, h, &components) || w <= 0 || h <= 0) {
    return std::nullopt;
  }
  return JpegSource{w, h, components == 3 && BitmapSizeAllowed(w, h, PixelFormat::Bgr24)};
}

void RunContext::StartSourceDecode(const std::string& fileName, int width, int height,
                                   Bitmap& into) {
  Bitmap target(width, height, PixelFormat::Bgr24, Uninitialised{}, &memory_);
  into.swap(target);
  auto started = std::make_unique<SourceDecode>();
  RowGate* rows = &started->rows;
  LoadReport* report = &started->report;
  started->task = workers().Submit([fileName, to = &into, rows, report, context = decode()] {
    DecodeContext own = context;
    own.rows = rows;
    own.workers = Workers();  // this worker is the decoder's only thread
    try {
      NotingFile(fileName, [&] { ReadJpegFileInto(fileName, *to, own, report); });
    } catch (...) {
      rows->Fail(std::current_exception());
      throw;
    }
    rows->Finish();
  });
  source = std::move(started);
}

LoadReport RunContext::FinishSource() {
  if (!source) return {};
  const std::unique_ptr<SourceDecode> decode = std::move(source);
  decode->task.Get();
  return decode->report;
}

void RunContext::DropSource() noexcept {
  if (!source) return;
  // The decoder writes into the caller's bitmap: it must be over before the
  // bitmap can go.
  source->task.Abandon();
  source.reset();
}

void RunContext::BeginStage(RunStage stage, std::int64_t events) {
  stage_ = stage;
  total_ += events;
  // The last stage: what is left is placing the files.
  if (stage == RunStage::Committing) total_ = done_;
  if (progress) progress(ProgressEvent{stage_, done_, total_, {}, spAppend});
}

void RunContext::Report(const std::string& text, TSimProgressMode mode) {
  ++done_;
  if (total_ < done_) total_ = done_;
  if (progress) progress(ProgressEvent{stage_, done_, total_, text, mode});
}

void RunContext::PrepareTable(int q, MappingTableBuilder builder) {
  DropTable();
  if (q < 0 || pool_.Threads() < 2) return;
  auto prepared = std::make_unique<Prepared>();
  prepared->q = q;
  // The task owns everything it touches: it never reads the filer that
  // asked for it, and leaves the decoder's core alone.
  prepared->task = workers().Submit(
      [q, builder, workers = workers().Serial(), cancel = cancel_, memory = PoolRef(&memory_)] {
        Prepared::Result result;
        TableBuild build{workers, cancel.get(),
                         [&result](const std::string& text, TSimProgressMode mode) {
                           result.lines.emplace_back(text, mode);
                         },
                         memory};
        result.table.SetSizeMirrored(2 * q, 4 * q, memory);
        builder(q, result.table, build);
        return result;
      });
  prepared_ = std::move(prepared);
}

bool RunContext::TakeTable(int q, TmxCurrencyUV& table, const ProgressLine& replay) {
  if (!prepared_) return false;
  const std::unique_ptr<Prepared> prepared = std::move(prepared_);
  if (prepared->q != q) return false;
  Prepared::Result result;
  try {
    result = prepared->task.Get();
  } catch (const Cancelled&) {
    throw;
  } catch (...) {
    // Built beside the decoder, it may have failed where building now,
    // after it, succeeds (memory); the caller builds it again.
    return false;
  }
  for (const auto& [text, mode] : result.lines) replay(text, mode);
  table = std::move(result.table);
  return true;
}

void RunContext::DropTable() { prepared_.reset(); }

}  // namespace skyfold
