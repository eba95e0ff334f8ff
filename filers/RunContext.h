// RunContext: what one conversion run owns and hands to every step: its
// threads (one pool, one budget), its memory (the blocks it frees are kept
// for its own later requests and given back when it ends), its cancel
// token, where its files go (committed together at the end), its progress
// as structured events, and the mapping table built ahead for its warp.
// Nothing outside the context changes what a run does; two runs with their
// own contexts do not touch each other.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "filers/MappingTable.h"
#include "imaging/Cancel.h"
#include "imaging/DecodeContext.h"
#include "imaging/ImageInfo.h"
#include "imaging/Parallel.h"
#include "imaging/PixelMemory.h"
#include "imaging/RowGate.h"

namespace skyfold {

class OutputCommit;

enum TSimProgressMode : std::uint8_t { spAppend = 0, spUpdate = 1 };

// The stages of a run, in the order a run passes them.
enum class RunStage : std::uint8_t { Preparing, Loading, Mapping, Warping, Writing, Committing };

// One progress event: a console line piece (text and mode, as the filers
// report them; empty text for a fraction-only event) with where the run
// stands: the stage and how much of the whole run is done.
struct ProgressEvent {
  RunStage stage = RunStage::Preparing;
  std::int64_t done = 0;
  std::int64_t total = 0;  // 0 while the run's size is not known yet
  std::string text;
  TSimProgressMode mode = spAppend;
};

using ProgressSink = std::function<void(const ProgressEvent&)>;
using ProgressLine = std::function<void(const std::string& text, TSimProgressMode mode)>;

// The lines a step reported while it ran off the calling thread, to be
// replayed there in order.
using ProgressRecord = std::vector<std::pair<std::string, TSimProgressMode>>;

// What a mapping-table builder gets from its run: threads, the cancel token
// and where its progress lines go.
struct TableBuild {
  Workers workers;
  const CancelToken* cancel = nullptr;
  ProgressLine progress;
  PoolRef memory;
};

// Fills a mirrored table of quarter unit q (sized 2q × 4q by the caller).
using MappingTableBuilder = void (*)(int q, TmxCurrencyUV& table, const TableBuild& build);

class RunContext {
 public:
  // threads ≤ 0: one per core. A shared token lets a front end cancel
  // several runs at once (a signal); otherwise the run has its own.
  explicit RunContext(int threads = 0, std::shared_ptr<CancelToken> cancel = nullptr);
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  Workers workers() { return pool_.workers(); }
  int Threads() const { return pool_.Threads(); }
  MemoryPool& memory() { return memory_; }
  CancelToken& cancel() { return *cancel_; }
  DecodeContext decode() { return DecodeContext{workers(), cancel_.get()}; }

  // Where the run's files go: committed together by the engine. Null: each
  // file is put in place as soon as it is complete.
  OutputCommit* outputs = nullptr;

  // Set by a driver whose next step after loading is the warp: a JPEG source
  // may then still be decoding on a worker when LoadSourceImage returns, and
  // the warp follows the decoder row by row.
  bool streamSource = false;
  // The source being decoded that way, if any.
  struct SourceDecode {
    RowGate rows;
    Task<void> task;
    LoadReport report;  // written by the decoder, read once it has ended
  };
  std::unique_ptr<SourceDecode> source;
  // The header of a JPEG source when the run has threads to decode it beside
  // other work; `colour` when it has three components in a size a 24-bit
  // bitmap allows, so that it can be followed (StartSourceDecode).
  struct JpegSource {
    int width = 0, height = 0;
    bool colour = false;
  };
  std::optional<JpegSource> ParallelJpeg(const std::string& fileName);
  // Makes `into` a width × height 24-bit bitmap of the run's pool and starts
  // decoding the colour JPEG fileName into it on a worker, as `source`.
  void StartSourceDecode(const std::string& fileName, int width, int height, Bitmap& into);
  // Waits for the source's decode to end and gives what it noticed;
  // rethrows its failure.
  LoadReport FinishSource();
  // Waits for it without a word (for unwinding).
  void DropSource() noexcept;

  // Structured progress (optional).
  ProgressSink progress;
  // The most memory the run's job may take, checked from the declared sizes
  // before the job allocates; 0: DefaultMemoryBudget().
  std::uint64_t memoryBudget = 0;
  std::uint64_t MemoryBudget() const;
  // Starts a stage; `events` is how many progress events it will report
  // (0 when unknown), which makes the run's total.
  void BeginStage(RunStage stage, std::int64_t events = 0);
  // Reports one event of the current stage.
  void Report(const std::string& text, TSimProgressMode mode);

  // The table of quarter unit q, built by `builder` on a worker while the
  // run does something else (a decode). Its progress lines are kept and
  // replayed by TakeTable, so the lines are the same as when the table is
  // built where it is used.
  void PrepareTable(int q, MappingTableBuilder builder);
  // Moves the prepared table of quarter unit q into table, replaying its
  // lines through `replay`; false (dropping any other) when there is none.
  bool TakeTable(int q, TmxCurrencyUV& table, const ProgressLine& replay);
  void DropTable();

 private:
  struct Prepared;
  ThreadPool pool_;
  MemoryPool memory_;
  std::shared_ptr<CancelToken> cancel_;
  RunStage stage_ = RunStage::Preparing;
  std::int64_t done_ = 0;
  std::int64_t total_ = 0;
  std::unique_ptr<Prepared> prepared_;  // after pool_: its task is dropped first
};

}  // namespace skyfold
