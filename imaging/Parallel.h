// The threads of one run: a pool with a fixed budget, row loops split
// deterministically over it, and background tasks that share the budget.
//
// A run makes one ThreadPool of N threads: the thread that runs the job
// plus N − 1 workers. Everything parallel in the run goes through it: row
// loops (Workers::For, the caller takes part), and tasks (a table built
// while a file decodes, a face encoded while the next is cut). A task that
// no worker has started when its result is wanted runs on the waiting
// thread, so waiting never deadlocks and nothing ever needs a thread beyond
// the budget.
//
// Row loops cut a range into one contiguous block per thread, each thread
// owns its rows, and nothing is shared but read-only input: results never
// depend on the thread count.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace skyfold {

class ThreadPool;

namespace detail {

// One unit of work a pool runs: a loop job with numbered blocks, or a task.
struct PoolItem {
  virtual ~PoolItem() = default;
  // Takes and runs one piece of the item; false when nothing is left to take.
  virtual bool RunPiece() = 0;
  virtual bool Open() const = 0;
};

// The shared state of a task.
class TaskState : public PoolItem {
 public:
  explicit TaskState(std::function<void()> body) : body_(std::move(body)) {}
  bool RunPiece() override;
  bool Open() const override { return state_.load() == kPending; }
  bool Done() const { return state_.load() == kDone; }
  // Runs the task here if nobody has started it, else waits for it.
  void Wait();
  // Drops the task if nobody has started it; waits for it otherwise.
  void Abandon();
  // Once done: the failure, moved out, so that the handle that takes it
  // holds the exception's last reference (not a worker letting go of the
  // task later).
  std::exception_ptr TakeFailure() { return std::exchange(failure_, nullptr); }

 private:
  enum : int { kPending, kRunning, kDone };
  bool Claim() {
    int expected = kPending;
    return state_.compare_exchange_strong(expected, kRunning);
  }
  void Run();
  std::function<void()> body_;
  std::atomic<int> state_{kPending};
  std::exception_ptr failure_;
  std::mutex mutex_;
  std::condition_variable done_;
};

void Publish(ThreadPool* pool, const std::shared_ptr<PoolItem>& item);

}  // namespace detail

// The result of a task started with Workers::Submit. Get runs it on the
// calling thread when no worker has taken it yet; destruction without Get
// waits for a started task and drops one not started.
template <typename T>
class Task {
 public:
  Task() = default;
  Task(Task&&) noexcept = default;
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      Abandon();
      state_ = std::move(other.state_);
      result_ = std::move(other.result_);
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { Abandon(); }

  bool Valid() const { return state_ != nullptr; }

  // The task's result; rethrows its exception. Once only.
  T Get() {
    state_->Wait();
    std::shared_ptr<detail::TaskState> state = std::move(state_);
    if (std::exception_ptr failure = state->TakeFailure()) std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>) return std::move(**result_);
  }

  // Runs the task on the calling thread if no worker has started it; true
  // when it ran here (its result or exception then waits for Get).
  bool RunHereIfPending() { return state_ && state_->RunPiece(); }
  // True once the task has run (Get then returns at once).
  bool Done() const { return state_ && state_->Done(); }

  // Waits for a started task, drops one not started; the result is lost.
  void Abandon() noexcept {
    if (state_) state_->Abandon();
    state_.reset();
  }

 private:
  friend class Workers;
  using Slot = std::conditional_t<std::is_void_v<T>, char, std::optional<T>>;
  std::shared_ptr<detail::TaskState> state_;
  std::shared_ptr<Slot> result_;
};

// A view of a pool with a thread cap: what a piece of work may use. Cheap
// to copy. A default Workers runs everything on the calling thread.
class Workers {
 public:
  Workers() = default;
  Workers(ThreadPool* pool, int cap) : pool_(pool), cap_(cap < 1 ? 1 : cap) {}

  // Threads a loop may use, the caller included (≥ 1).
  int Count() const { return cap_; }
  // The same pool with at most n threads (for work done beside another busy
  // thread, which it should not take cores from).
  Workers Limited(int n) const { return Workers(pool_, n < cap_ ? n : cap_); }
  Workers Serial() const { return Limited(1); }

  // Calls body(first, last) for disjoint blocks [first, last) that cover
  // [begin, end), on up to Count() threads (the calling thread takes part).
  // Blocks smaller than minBlock are not split further. An exception in any
  // block is rethrown here.
  void For(int begin, int end, const std::function<void(int first, int last)>& body,
           int minBlock = 1) const;

  // Like For, but [begin, end) is cut into runs of `grain` dealt to the
  // threads in turn, so work whose cost drifts along the range is shared
  // evenly. body gets one run at a time.
  void ForInterleaved(int begin, int end, int grain,
                      const std::function<void(int first, int last)>& body) const;

  // Starts fn on a worker of the pool (the budget's other threads); with no
  // worker it runs when its result is wanted.
  template <typename F>
  auto Submit(F&& fn) const -> Task<std::invoke_result_t<F>> {
    using T = std::invoke_result_t<F>;
    Task<T> task;
    auto result = std::make_shared<typename Task<T>::Slot>();
    task.result_ = result;
    task.state_ = std::make_shared<detail::TaskState>([fn = std::forward<F>(fn), result]() mutable {
      if constexpr (std::is_void_v<T>) {
        fn();
      } else {
        result->emplace(fn());
      }
    });
    if (pool_ != nullptr) detail::Publish(pool_, task.state_);
    return task;
  }

 private:
  ThreadPool* pool_ = nullptr;
  int cap_ = 1;
};

// The rows of a pixel loop over rows `width` pixels wide that one thread
// should take at least (64 Ki pixels), so that handing work to a thread
// costs little against the work: the minBlock of such loops.
int MinRowsPerBlock(int width);

// The budget's worker threads, started when first needed and joined on
// destruction (after every task still queued has been dropped or run).
class ThreadPool {
 public:
  // threads ≤ 0: one per core.
  explicit ThreadPool(int threads = 0);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int Threads() const { return threads_; }
  Workers workers() { return Workers(this, threads_); }

  // The number of cores (at least 1).
  static int Cores();

 private:
  friend void detail::Publish(ThreadPool*, const std::shared_ptr<detail::PoolItem>&);
  friend class Workers;
  struct Impl;
  void Add(const std::shared_ptr<detail::PoolItem>& item);
  void Remove(const detail::PoolItem* item);
  int threads_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace skyfold
