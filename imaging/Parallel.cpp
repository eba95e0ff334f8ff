// ParallelFor on a small persistent pool. A call publishes a job of
// numbered blocks; the calling thread and any idle worker take blocks from
// the job's counter until none are left, so a call always finishes even if
// no worker helps (nested or concurrent calls cannot deadlock). Which thread
// runs a block never changes what the block computes.
#include "imaging/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace skyfold {
namespace {

std::atomic<int> g_threadCount{0};
thread_local int t_limit = 0;  // 0: no limit

int DefaultThreadCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

struct Job {
  const std::function<void(int, int)>* body = nullptr;
  int begin = 0;
  int total = 0;
  int blocks = 0;
  std::atomic<int> next{0};
  std::vector<std::exception_ptr> errors;
  std::mutex mutex;
  std::condition_variable finished;
  int done = 0;  // guarded by mutex

  // Runs blocks until the counter is exhausted.
  void Work() {
    for (int b = next++; b < blocks; b = next++) {
      const int first = begin + static_cast<int>(static_cast<long long>(total) * b / blocks);
      const int last = begin + static_cast<int>(static_cast<long long>(total) * (b + 1) / blocks);
      try {
        (*body)(first, last);
      } catch (...) {
        errors[b] = std::current_exception();
      }
      std::lock_guard lock(mutex);
      if (++done == blocks) finished.notify_all();
    }
  }
};

class Pool {
 public:
  ~Pool() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

  void Run(const std::shared_ptr<Job>& job, int helpers) {
    {
      std::lock_guard lock(mutex_);
      // Threads are only ever added; idle ones cost nothing but a stack.
      while (static_cast<int>(threads_.size()) < helpers) {
        threads_.emplace_back([this] { WorkerLoop(); });
      }
      jobs_.push_back(job);
    }
    wake_.notify_all();
    job->Work();
    {
      std::unique_lock lock(job->mutex);
      job->finished.wait(lock, [&] { return job->done == job->blocks; });
    }
    std::lock_guard lock(mutex_);
    jobs_.erase(std::remove(jobs_.begin(), jobs_.end(), job), jobs_.end());
  }

 private:
  void WorkerLoop() {
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::unique_lock lock(mutex_);
        // Take the job in the same check: its blocks may run out at any time.
        wake_.wait(lock, [&] { return stop_ || (job = FirstOpenJob()) != nullptr; });
        if (stop_) return;
      }
      job->Work();
    }
  }

  // A published job that still has blocks to hand out (mutex_ held).
  std::shared_ptr<Job> FirstOpenJob() const {
    for (const auto& job : jobs_) {
      if (job->next.load() < job->blocks) return job;
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> jobs_;
  std::vector<std::thread> threads_;
  bool stop_ = false;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

}  // namespace

int MinRowsPerBlock(int width) {
  constexpr int kMinPixelsPerBlock = 1 << 16;
  return std::max(1, kMinPixelsPerBlock / std::max(1, width));
}

void ParallelForInterleaved(int begin, int end, int grain,
                            const std::function<void(int, int)>& body) {
  if (end <= begin) return;
  grain = std::max(1, grain);
  const int runs = (end - begin - 1) / grain + 1;
  const int threads = t_limit > 0 ? std::min(t_limit, ThreadCount()) : ThreadCount();
  const int hands = std::clamp(runs, 1, threads);
  ParallelFor(0, hands, [&](int firstHand, int lastHand) {
    for (int hand = firstHand; hand < lastHand; ++hand) {
      for (int run = hand; run < runs; run += hands) {
        const int first = begin + run * grain;
        body(first, std::min(end, first + grain));
      }
    }
  });
}

ThreadLimit::ThreadLimit(int threads) : previous_(t_limit) { t_limit = std::max(1, threads); }
ThreadLimit::~ThreadLimit() { t_limit = previous_; }

void SetThreadCount(int n) { g_threadCount = n > 0 ? n : 0; }

int ThreadCount() {
  const int n = g_threadCount;
  return n > 0 ? n : DefaultThreadCount();
}

void ParallelFor(int begin, int end, const std::function<void(int, int)>& body, int minBlock) {
  const int total = end - begin;
  if (total <= 0) return;
  minBlock = std::max(1, minBlock);
  const int threads = t_limit > 0 ? std::min(t_limit, ThreadCount()) : ThreadCount();
  const int blocks = std::clamp(total / minBlock, 1, threads);
  if (blocks == 1) {
    body(begin, end);
    return;
  }
  auto job = std::make_shared<Job>();
  job->body = &body;
  job->begin = begin;
  job->total = total;
  job->blocks = blocks;
  job->errors.resize(blocks);
  ThePool().Run(job, blocks - 1);
  for (auto& e : job->errors) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace skyfold
