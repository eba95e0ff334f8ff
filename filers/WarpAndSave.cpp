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

#include "filers/SimFilers.h"
#include "filers/StripBlend.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"
#include "imaging/Parallel.h"

namespace skyfold {

namespace {

constexpr int kBandRows = 64;
// Bands made but not yet encoded, at most: enough to keep the encoder fed
// through an uneven warp, few enough to cost a few megabytes.
constexpr std::size_t kBandsAhead = 4;
// Rows of the four strips blended one after another: the table rows they
// share stay in cache (4 rows of a 16384 panorama's table are 128 KB).
constexpr int kRowsTogether = 4;

// The encoder's thread and the bands waiting for it.
class BandEncoder {
 public:
  BandEncoder(int width, int height)
      : width_(width), encoder_(width, height, 100), thread_([this] { Run(); }) {}

  ~BandEncoder() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
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
    return Bitmap(width_, kBandRows, PixelFormat::Bgr24, Uninitialised{});
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

  // Waits until every queued band is encoded; returns the file's bytes, or
  // throws what the encoding threw.
  std::vector<std::uint8_t> Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || failed_; });
    if (failed_) std::rethrow_exception(failure_);
    lock.unlock();
    return encoder_.Finish();
  }

 private:
  struct Band {
    Bitmap pixels;
    int rows;
  };

  void Run() {
    std::vector<const std::uint8_t*> rows;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !queue_.empty() || stop_; });
      if (stop_ || failed_) return;
      Band band = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      lock.unlock();
      try {
        rows.resize(static_cast<std::size_t>(band.rows));
        for (int y = 0; y < band.rows; ++y) rows[y] = band.pixels.row(y);
        encoder_.WriteRows(rows.data(), band.rows);
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
  JpegStreamEncoder encoder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Band> queue_;
  std::vector<Bitmap> free_;
  std::size_t made_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  bool failed_ = false;
  std::exception_ptr failure_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace

void TSimFiler::WarpAndSaveImage(Bitmap& bitmap, const std::string& fileName,
                                 const std::string& savingLine) {
  const int w = bitmap.width();
  const int h = bitmap.height();
  const bool streams = GetExtractImageType() == eiJpeg && ThreadCount() > 1 &&
                       bitmap.format() == PixelFormat::Bgr24 && w >= 8 && w % 8 == 0 && h == w / 2;
  if (!streams) {
    WarpImage(bitmap);
    DoProgress(savingLine, spAppend);
    SaveImage(bitmap, fileName, 0);
    return;
  }

  // What WarpImage does, band by band: the same table, the same blend (a
  // pixel without a source is white, as in WarpImage's fresh strip buffer)
  // and the same progress lines, spread evenly over the bands.
  const int q4 = w / 4;
  const int q = q4 / 2;
  TmxCurrencyUV table;
  ObtainMappingTable(q, table);
  DoProgress("処理中 ", spAppend);

  const int step = RowsPerProgressDot(h);
  const int dotsPerStrip = 1 + (h + step - 1) / step;
  const int events = 4 * dotsPerStrip;
  int emitted = 0;
  auto progressTo = [&](int count) {
    for (; emitted < count; ++emitted) {
      DoProgress(".", emitted % dotsPerStrip == 0 ? spAppend : spUpdate);
    }
  };

  std::vector<std::uint8_t> bytes;
  {
    BandEncoder encoder(w, h);
    // The encoder keeps one core busy; the warp takes the others.
    const ThreadLimit limit(ThreadCount() - 1);
    const int bands = (h + kBandRows - 1) / kBandRows;
    for (int b = 0; b < bands && !encoder.Failed(); ++b) {
      Bitmap band = encoder.Free();
      const int y0 = b * kBandRows;
      const int y1 = std::min(h, y0 + kBandRows);
      ParallelFor(
          y0, y1,
          [&](int first, int last) {
            for (int r0 = first; r0 < last; r0 += kRowsTogether) {
              const int r1 = std::min(last, r0 + kRowsTogether);
              for (int k = 0; k < 4; ++k) {
                const std::size_t left = static_cast<std::size_t>(k) * q4 * 3;
                BlendStripRows(StripTarget{band.row(r0 - y0) + left, band.rowBytes(), true},
                               StripView{bitmap.data() + left, bitmap.rowBytes(), q4, h}, 3, table,
                               r0, r1);
              }
            }
          },
          kRowsTogether);
      encoder.Push(std::move(band), y1 - y0);
      progressTo(static_cast<int>(static_cast<std::int64_t>(events) * (b + 1) / bands));
    }
    // The source is done with; the encoder may still be busy.
    progressTo(events);
    DoProgress(savingLine, spAppend);
    bitmap = Bitmap();
    table = TmxCurrencyUV();
    bytes = encoder.Finish();
  }
  OutputFile file(fileName);
  file.write(bytes.data(), bytes.size());
  file.close();
}

}  // namespace skyfold
