#include "filers/WarpedFaces.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "filers/PolarPieces.h"
#include "imaging/PixelMemory.h"
#include "imaging/Raster.h"

namespace skyfold {

namespace {

constexpr int kPieceRows = 64;
// How far the decoder may run ahead of the rows the faces have used before
// it makes pieces itself: the memory the run holds beyond the faces.
constexpr std::size_t kDecoderLeadBytes = std::size_t{64} << 20;

}  // namespace

WarpedFaces::Rows WarpedFaces::BandOf(int job) const {
  if (job < kSides) return {q_, 3 * q_};
  return job == kDraw ? Rows{0, q_} : Rows{3 * q_, 4 * q_};
}

WarpedFaces::WarpedFaces(Bitmap& panorama, FaceFiles files, Workers workers, RowGate* decoder)
    : panorama_(panorama),
      q_(panorama.width() / 8),
      workers_(std::move(workers)),
      decoder_(decoder),
      paths_(std::move(files)) {
  const int n = 2 * q_;
  for (int job = 0; job < kDraw + 2; ++job)
    done_[static_cast<std::size_t>(job)] = BandOf(job).first;
  given_ = {0, q_, 3 * q_};
  sidesWritten_ = std::all_of(paths_.write.begin(), paths_.write.begin() + kSides,
                              [](bool write) { return write; });
  if (sidesWritten_) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
      files_[i] =
          std::make_unique<JpegResultFile>(paths_.paths[i], n, n, paths_.metadata, paths_.commit);
      made_.written[i] = true;
    }
    seam_ =
        Bitmap(n, std::min(kPieceRows, n), PixelFormat::Bgr24, Uninitialised{}, panorama.pool());
  }
  for (std::size_t i = kSides; i < kFaces; ++i) made_.written[i] = paths_.write[i];
  if (decoder_ != nullptr) {
    lead_ = static_cast<int>(std::max<std::size_t>(
        1, kDecoderLeadBytes / std::max<std::size_t>(1, panorama.rowBytes())));
    movedFrom_ = movedTo_ = panorama.data();
    movingPages_ = true;
    decoder_->SetPace([this](int rows) {
      decoded_.store(rows, std::memory_order_relaxed);
      MoveUsedPages(rows);
      while (rows - UsedRowsNow() > lead_ && MakeOne()) {
      }
    });
  }
}

WarpedFaces::~WarpedFaces() {
  if (decoder_ != nullptr) decoder_->SetPace(nullptr);
  {
    const std::lock_guard lock(mutex_);
    queue_.clear();
  }
  helpers_.clear();
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return running_ == 0; });
}

void WarpedFaces::Run(const Piece& piece) {
  if (piece.job >= kEncodePolar) {
    const auto which = static_cast<std::size_t>(piece.job - kEncodePolar);
    Bitmap& face = made_.polar[which];
    try {
      JpegResultFile file(paths_.paths[kSides + which], face.width(), face.height(),
                          paths_.metadata, paths_.commit);
      file.WriteRows(face, face.height());
      file.Close();
    } catch (...) {
      made_.failures[kSides + which] = std::current_exception();
    }
    face = Bitmap();  // its memory serves what comes next
    return;
  }
  if (piece.job >= kDraw) {
    const int which = piece.job - kDraw;
    const PolarBand band = PolarBandOf(panorama_, which);
    // Made white when its first rows come: by then the pages of the rows
    // given back are there to be had.
    Bitmap& face = made_.polar[static_cast<std::size_t>(which)];
    if (face.empty()) face = Bitmap(2 * q_, 2 * q_, PixelFormat::Bgr24, panorama_.pool());
    for (int p = 0; p < 4; ++p) {
      DrawPieceTurned(face, band, p, which, Workers(), piece.y0 - band.top, piece.y1 - band.top);
    }
    return;
  }
  const auto i = static_cast<std::size_t>(piece.job);
  if (!files_[i]) return;
  try {
    const int count = piece.y1 - piece.y0;
    if (piece.job < 3) {
      // Faces 0 to 2 start at columns q, 3q and 5q.
      const std::size_t left = static_cast<std::size_t>(2 * piece.job + 1) * q_ * 3;
      std::array<const std::uint8_t*, kPieceRows> rows{};
      for (int r = 0; r < count; ++r)
        rows[static_cast<std::size_t>(r)] = panorama_.row(piece.y0 + r) + left;
      files_[i]->WriteRows(rows.data(), count);
      return;
    }
    // The back face: its left half is the panorama's right end, its right
    // half the left end.
    CopyRect(seam_, 0, 0, panorama_, 7 * q_, piece.y0, q_, count);
    CopyRect(seam_, q_, 0, panorama_, 0, piece.y0, q_, count);
    files_[i]->WriteRows(seam_, count);
  } catch (...) {
    made_.failures[i] = std::current_exception();
    files_[i].reset();
  }
}

std::deque<WarpedFaces::Piece>::iterator WarpedFaces::Runnable() {
  return std::find_if(queue_.begin(), queue_.end(), [&](const Piece& piece) {
    return !busy_[static_cast<std::size_t>(piece.job)];
  });
}

bool WarpedFaces::MakeOne() {
  std::unique_lock lock(mutex_);
  const auto it = Runnable();
  if (it == queue_.end()) return false;
  const Piece piece = *it;
  queue_.erase(it);
  const auto job = static_cast<std::size_t>(piece.job);
  busy_[job] = true;
  ++running_;
  lock.unlock();
  std::exception_ptr failure;
  try {
    Run(piece);
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  if (failure && !failure_) failure_ = failure;
  busy_[job] = false;
  done_[job] = piece.y1;
  // A polar face drawn whole goes to its file.
  if (piece.job >= kDraw && piece.job < kEncodePolar && piece.y1 == BandOf(piece.job).end &&
      paths_.write[static_cast<std::size_t>(piece.job)]) {
    queue_.push_back(Piece{piece.job - kDraw + kEncodePolar, 0, 0});
  }
  --running_;
  idle_.notify_all();
  return true;
}

int WarpedFaces::UsedRows() const {
  const int top = done_[kDraw];
  if (top < q_ || !sidesWritten_) return top;
  const int middle = *std::min_element(done_.begin(), done_.begin() + kSides);
  return middle < 3 * q_ ? middle : done_[kDraw + 1];
}

int WarpedFaces::UsedRowsNow() {
  const std::lock_guard lock(mutex_);
  return UsedRows();
}

void WarpedFaces::MoveUsedPages(int decoded) {
  if (!movingPages_.load(std::memory_order_relaxed)) return;
  const std::size_t rowBytes = panorama_.rowBytes();
  std::uint8_t* const data = panorama_.data();
  const std::uint8_t* end = data + panorama_.byteSize();
  movedTo_ = std::max(movedTo_, data + static_cast<std::size_t>(decoded) * rowBytes);
  const bool moved = MovePixelPages(
      movedFrom_, data + static_cast<std::size_t>(UsedRowsNow()) * rowBytes, movedTo_, end);
  // With no room left under the rows to come, GiveBack gives the rest back.
  if (!moved || end - movedTo_ < static_cast<std::ptrdiff_t>(std::size_t{4} << 20)) {
    movingPages_.store(false, std::memory_order_release);
  }
}

void WarpedFaces::GiveBack() {
  int prefix = 0, bottom = 0;
  {
    const std::lock_guard lock(mutex_);
    prefix = UsedRows();
    bottom = done_[kDraw + 1];
  }
  const std::size_t rowBytes = panorama_.rowBytes();
  if (!movingPages_.load(std::memory_order_acquire)) {
    DiscardPixels(panorama_.data(), static_cast<std::size_t>(prefix) * rowBytes);
  }
  if (prefix < 3 * q_) {
    DiscardPixels(panorama_.row(3 * q_), static_cast<std::size_t>(bottom - 3 * q_) * rowBytes);
  }
}

void WarpedFaces::Advance(int settled) {
  {
    const std::lock_guard lock(mutex_);
    // The bands in order, as jobs that read them: top, middle, bottom.
    constexpr std::array<int, 3> kReaders{kDraw, 0, kDraw + 1};
    for (std::size_t b = 0; b < kReaders.size(); ++b) {
      const int until = std::clamp(settled, given_[b], BandOf(kReaders[b]).end);
      for (int y = given_[b]; y < until; y += kPieceRows) {
        const int y1 = std::min(until, y + kPieceRows);
        if (b != 1) {
          queue_.push_back(Piece{kDraw + (b == 0 ? 0 : 1), y, y1});
        } else if (sidesWritten_) {
          for (int face = 0; face < kSides; ++face) queue_.push_back(Piece{face, y, y1});
        }
      }
      given_[b] = until;
    }
  }
  GiveBack();
  // A free worker (once the decode is over) joins in.
  std::erase_if(helpers_, [](const Task<void>& task) { return task.Done(); });
  if (helpers_.empty()) {
    helpers_.push_back(workers_.Submit([this] {
      while (MakeOne()) {
      }
    }));
  }
  // Here only while the decoder is not far ahead: then it makes pieces
  // itself, and this thread is better at the warp, which only it does.
  while (
      (decoder_ == nullptr || decoded_.load(std::memory_order_relaxed) - UsedRowsNow() <= lead_) &&
      MakeOne()) {
  }
}

WarpedFaces::Made WarpedFaces::Finish() {
  Advance(4 * q_);
  // The decoder is over; its rows may go before this does.
  if (decoder_ != nullptr) decoder_->SetPace(nullptr);
  decoder_ = nullptr;
  movingPages_ = false;
  for (;;) {
    while (MakeOne()) {
    }
    std::unique_lock lock(mutex_);
    if (queue_.empty() && running_ == 0) break;
    // The rest belongs to jobs another thread is at.
    idle_.wait(lock, [&] { return running_ == 0 || Runnable() != queue_.end(); });
  }
  for (Task<void>& helper : helpers_) helper.Get();
  helpers_.clear();
  if (failure_) std::rethrow_exception(failure_);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!files_[i]) continue;
    try {
      files_[i]->Close();
    } catch (...) {
      made_.failures[i] = std::current_exception();
    }
    files_[i].reset();
  }
  GiveBack();
  return std::move(made_);
}

}  // namespace skyfold
