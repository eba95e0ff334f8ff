// RowGate: the rows of an image that a decoder on another thread has
// finished, so a reader can follow it row by row instead of waiting for the
// whole image. The decoder advances it and finally marks it finished or
// failed; a reader waits for the rows it needs and gets the decoder's
// exception if it failed before them.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

namespace skyfold {

class RowGate {
 public:
  // Decoder side.
  void Advance(int rows) {
    {
      std::lock_guard lock(mutex_);
      if (rows > ready_) ready_ = rows;
    }
    changed_.notify_all();
    const std::lock_guard lock(paceMutex_);
    if (pace_) pace_(rows);
  }
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
  }
  void Fail(std::exception_ptr failure) {
    {
      std::lock_guard lock(mutex_);
      failure_ = std::move(failure);
      finished_ = true;
    }
    changed_.notify_all();
  }

  // Reader side. pace(rows), while set, runs on the decoder's thread after
  // each advance: the reader may have the decoder do some of its work there
  // (work that never waits for further rows). Setting another (or none)
  // waits for a running one to return.
  void SetPace(std::function<void(int rows)> pace) {
    const std::lock_guard lock(paceMutex_);
    pace_ = std::move(pace);
  }

  // Returns once `rows` rows are ready or the decode is over;
  // rethrows the decoder's failure.
  void WaitFor(int rows) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready_ >= rows || finished_; });
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int ready_ = 0;
  bool finished_ = false;
  std::exception_ptr failure_;
  std::mutex paceMutex_;
  std::function<void(int)> pace_;
};

}  // namespace skyfold
