// TSimFiler::WarpAndSaveImage: the warp and the writing of its result as
// one pipeline. libjpeg encodes on one core; instead of the warp using every
// core and then the encoder one, the warp makes the panorama a band of rows
// at a time and the encoder takes each band as soon as it is complete.
//
// A band holds the same rows of all four strips, so the rows of the mapping
// table it reads are read once, while in cache, for the four strips. The
// source panorama is only read: the bands go to their own buffers, and only
// a few exist at a time.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "filers/PanoramaWarp.h"
#include "filers/SimFilers.h"
#include "imaging/ImageMetadata.h"
#include "imaging/JpegIO.h"
#include "imaging/JpegResultFile.h"
#include "imaging/Parallel.h"

namespace skyfold {

namespace {

constexpr int kBandRows = 64;
// Bands made but not yet encoded, at most: enough to keep the encoder fed
// through an uneven warp, few enough to cost a few megabytes.
constexpr std::size_t kBandsAhead = 4;

// The encoder's task (one worker of the run) and the bands waiting for it.
class BandEncoder {
 public:
  BandEncoder(JpegResultFile& file, int width, const Workers& workers, PoolRef pool)
      : width_(width), pool_(std::move(pool)), file_(file) {
    task_ = workers.Submit([this] { Run(); });
  }

  ~BandEncoder() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    task_.Abandon();
  }

  BandEncoder(const BandEncoder&) = delete;
  BandEncoder& operator=(const BandEncoder&) = delete;

  // A band buffer to fill: an encoded one when there is one, a new one
  // while fewer than kBandsAhead + 1 exist; otherwise waits for the encoder.
  Bitmap Free() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty() || made_ <= kBandsAhead || failed_; });
    if (!free_.empty()) {
      Bitmap band = std::move(free_.back());
      free_.pop_back();
      return band;
    }
    ++made_;
    lock.unlock();
    return Bitmap(width_, kBandRows, PixelFormat::Bgr24, Uninitialised{}, pool_);
  }

  // Queues the first `rows` rows of band for encoding.
  void Push(Bitmap band, int rows) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(Band{std::move(band), rows});
    }
    changed_.notify_all();
  }

  bool Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
  }

  // Waits until every queued band is encoded; throws what the encoding threw.
  void Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || failed_; });
    if (failed_) std::rethrow_exception(failure_);
  }

 private:
  struct Band {
    Bitmap pixels;
    int rows;
  };

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !queue_.empty() || stop_; });
      if (stop_ || failed_) return;
      Band band = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      lock.unlock();
      try {
        file_.WriteRows(band.pixels, band.rows);
      } catch (...) {
        lock.lock();
        failure_ = std::current_exception();
        failed_ = true;
        busy_ = false;
        changed_.notify_all();
        return;
      }
      lock.lock();
      free_.push_back(std::move(band.pixels));
      busy_ = false;
      changed_.notify_all();
    }
  }

  const int width_;
  PoolRef pool_;
  JpegResultFile& file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Band> queue_;
  std::vector<Bitmap> free_;
  std::size_t made_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  bool failed_ = false;
  std::exception_ptr failure_;
  Task<void> task_;  // last: starts once everything above exists
};

}  // namespace

void TSimFiler::WarpAndSaveImage(Bitmap& bitmap, const std::string& fileName,
                                 const std::string& savingLine) {
  RunContext& run = Context();
  const int w = bitmap.width();
  const int h = bitmap.height();
  const bool streams = GetExtractImageType() == eiJpeg && run.Threads() > 1 &&
                       bitmap.format() == PixelFormat::Bgr24 && w >= 8 && w % 8 == 0 && h == w / 2;
  if (!streams) {
    WarpImage(bitmap);
    run.BeginStage(RunStage::Writing, 1);
    DoProgress(savingLine, spAppend);
    SaveImage(bitmap, fileName, 0);
    return;
  }

  // WarpImage's warp, with the bands going to the encoder instead of a
  // warped panorama.
  TmxCurrencyUV table;
  ObtainMappingTable(w / 8, table);
  DoProgress("処理中 ", spAppend);

  JpegResultFile file(fileName, w, h, MetadataFor(eiJpeg), run.outputs);
  {
    BandEncoder encoder(file, w, run.workers(), &run.memory());
    Bitmap band;
    // The encoder keeps one core busy; the warp takes the others.
    WarpDots dots(ProgressHere(), h);
    WarpPanorama(
        bitmap, table, run.workers().Limited(run.Threads() - 1), run.cancel(), dots, StripRange{},
        [&](int, int) {
          // After a failed encoding the bands are not made; the lines go
          // on, and Finish reports the failure.
          if (encoder.Failed()) return WarpRows{nullptr, 0};
          band = encoder.Free();
          return WarpRows{band.data(), band.rowBytes()};
        },
        [&](int y0, int y1) {
          if (!band.empty()) encoder.Push(std::move(band), y1 - y0);
          band = Bitmap();
        },
        kBandRows);
    // The source is done with; the encoder may still be busy.
    run.BeginStage(RunStage::Writing, 1);
    DoProgress(savingLine, spAppend);
    bitmap = Bitmap();
    table = TmxCurrencyUV();
    encoder.Finish();
  }
  run.cancel().Check();
  // With a face's profile the JPEG carries it.
  file.Close();
}

}  // namespace skyfold
