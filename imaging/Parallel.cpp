// The pool behind Workers. A loop publishes a job of numbered blocks; the
// calling thread and any idle worker take blocks from the job's counter
// until none are left, so a loop always finishes even if no worker helps
// (nested or concurrent loops cannot deadlock). A task is a job of one
// block that its waiter may also take. Which thread runs a block never
// changes what the block computes.
#include "imaging/Parallel.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <thread>
#include <vector>

namespace skyfold {

namespace detail {

void TaskState::Run() {
  try {
    body_();
  } catch (...) {
    failure_ = std::current_exception();
  }
  body_ = nullptr;  // what it captured goes now, not with the last handle
  {
    std::lock_guard lock(mutex_);
    state_ = kDone;
  }
  done_.notify_all();
}

bool TaskState::RunPiece() {
  if (!Claim()) return false;
  Run();
  return true;
}

void TaskState::Wait() {
  if (Claim()) {
    Run();
    return;
  }
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return state_.load() == kDone; });
}

void TaskState::Abandon() {
  if (Claim()) {
    body_ = nullptr;
    std::lock_guard lock(mutex_);
    state_ = kDone;
    return;
  }
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return state_.load() == kDone; });
}

void Publish(ThreadPool* pool, const std::shared_ptr<PoolItem>& item) { pool->Add(item); }

}  // namespace detail

namespace {

// A loop: blocks numbered 0 … blocks − 1 over [begin, begin + total).
struct LoopJob : detail::PoolItem {
  const std::function<void(int, int)>* body = nullptr;
  int begin = 0;
  int total = 0;
  int blocks = 0;
  std::atomic<int> next{0};
  std::vector<std::exception_ptr> errors;
  std::mutex mutex;
  std::condition_variable finished;
  int done = 0;  // guarded by mutex

  bool Open() const override { return next.load() < blocks; }

  bool RunPiece() override {
    const int b = next++;
    if (b >= blocks) return false;
    const int first = begin + static_cast<int>(static_cast<long long>(total) * b / blocks);
    const int last = begin + static_cast<int>(static_cast<long long>(total) * (b + 1) / blocks);
    try {
      (*body)(first, last);
    } catch (...) {
      errors[static_cast<std::size_t>(b)] = std::current_exception();
    }
    std::lock_guard lock(mutex);
    if (++done == blocks) finished.notify_all();
    return true;
  }

  void WaitAll() {
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done == blocks; });
  }
};

}  // namespace

struct ThreadPool::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::shared_ptr<detail::PoolItem>> items;
  std::vector<std::thread> threads;
  bool stop = false;

  // The first published item with work left; closed ones are dropped
  // (mutex held).
  std::shared_ptr<detail::PoolItem> FirstOpen() {
    while (!items.empty() && !items.front()->Open()) items.pop_front();
    for (const auto& item : items) {
      if (item->Open()) return item;
    }
    return nullptr;
  }

  void WorkerLoop() {
    for (;;) {
      std::shared_ptr<detail::PoolItem> item;
      {
        std::unique_lock lock(mutex);
        // Take the item in the same check: its work may run out at any time.
        wake.wait(lock, [&] { return stop || (item = FirstOpen()) != nullptr; });
        if (stop) return;
      }
      while (item->RunPiece()) {
      }
    }
  }
};

int ThreadPool::Cores() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

ThreadPool::ThreadPool(int threads)
    : threads_(threads > 0 ? threads : Cores()), impl_(std::make_unique<Impl>()) {}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stop = true;
  }
  impl_->wake.notify_all();
  for (auto& t : impl_->threads) t.join();
}

void ThreadPool::Add(const std::shared_ptr<detail::PoolItem>& item) {
  {
    std::lock_guard lock(impl_->mutex);
    // Workers are started on first need and only ever added, up to the
    // budget less the thread that runs the job. When none can be started
    // the work still gets done by its caller or waiter.
    if (static_cast<int>(impl_->threads.size()) < threads_ - 1) {
      try {
        impl_->threads.emplace_back([impl = impl_.get()] { impl->WorkerLoop(); });
      } catch (const std::system_error&) {
        // Work in hand gets done by its caller; a task that must run beside
        // the caller needs at least one worker.
        if (impl_->threads.empty()) throw;
      }
    }
    impl_->items.push_back(item);
  }
  impl_->wake.notify_all();
}

void ThreadPool::Remove(const detail::PoolItem* item) {
  std::lock_guard lock(impl_->mutex);
  auto& items = impl_->items;
  items.erase(
      std::remove_if(items.begin(), items.end(), [item](const auto& p) { return p.get() == item; }),
      items.end());
}

int MinRowsPerBlock(int width) {
  constexpr int kMinPixelsPerBlock = 1 << 16;
  return std::max(1, kMinPixelsPerBlock / std::max(1, width));
}

void Workers::For(int begin, int end, const std::function<void(int, int)>& body,
                  int minBlock) const {
  const int total = end - begin;
  if (total <= 0) return;
  minBlock = std::max(1, minBlock);
  const int blocks = std::clamp(total / minBlock, 1, pool_ == nullptr ? 1 : cap_);
  if (blocks == 1) {
    body(begin, end);
    return;
  }
  auto job = std::make_shared<LoopJob>();
  job->body = &body;
  job->begin = begin;
  job->total = total;
  job->blocks = blocks;
  job->errors.resize(static_cast<std::size_t>(blocks));
  pool_->Add(job);
  while (job->RunPiece()) {
  }
  job->WaitAll();
  pool_->Remove(job.get());
  for (auto& e : job->errors) {
    if (e) std::rethrow_exception(e);
  }
}

void Workers::ForInterleaved(int begin, int end, int grain,
                             const std::function<void(int, int)>& body) const {
  if (end <= begin) return;
  grain = std::max(1, grain);
  const int runs = (end - begin - 1) / grain + 1;
  const int hands = std::clamp(runs, 1, Count());
  For(0, hands, [&](int firstHand, int lastHand) {
    for (int hand = firstHand; hand < lastHand; ++hand) {
      for (int run = hand; run < runs; run += hands) {
        const int first = begin + run * grain;
        body(first, std::min(end, first + grain));
      }
    }
  });
}

}  // namespace skyfold
