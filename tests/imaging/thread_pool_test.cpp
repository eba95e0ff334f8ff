// The run's thread pool: loops cover their range once for any budget,
// tasks share the budget, and waiting on a task never needs a thread more.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "imaging/Parallel.h"

namespace skyfold {
namespace {

class PoolBudget : public ::testing::TestWithParam<int> {};

TEST_P(PoolBudget, LoopsCoverTheirRangeOnceAlsoInterleavedAndNested) {
  ThreadPool pool(GetParam());
  const Workers workers = pool.workers();
  std::vector<std::atomic<int>> hits(101);
  workers.For(0, 101, [&](int first, int last) {
    for (int i = first; i < last; ++i) ++hits[i];
  });
  for (auto& h : hits) ASSERT_EQ(h.exchange(0), 1);
  for (int grain : {1, 7, 200}) {
    std::atomic<int> misshapen{0};
    workers.ForInterleaved(3, 101, grain, [&](int first, int last) {
      if (last - first > grain || (first - 3) % grain != 0) ++misshapen;
      for (int i = first; i < last; ++i) ++hits[i];
    });
    for (int i = 0; i < 101; ++i) ASSERT_EQ(hits[i].exchange(0), i < 3 ? 0 : 1) << i;
    EXPECT_EQ(misshapen.load(), 0);
  }
  // Nested loops and loops of two threads at once share the pool.
  auto nested = [&](int base) {
    workers.For(0, 8, [&](int first, int last) {
      for (int i = first; i < last; ++i) {
        workers.For(base + i * 6, base + i * 6 + 6, [&](int f, int l) {
          for (int j = f; j < l; ++j) ++hits[j];
        });
      }
    });
  };
  std::thread other([&] { nested(48); });
  nested(0);
  other.join();
  for (int i = 0; i < 96; ++i) ASSERT_EQ(hits[i].load(), 1) << i;
}

TEST_P(PoolBudget, ALoopUsesNoMoreThreadsThanItsWorkersAllow) {
  ThreadPool pool(GetParam());
  for (int cap : {1, 2, 8}) {
    std::atomic<int> blocks{0};
    pool.workers().Limited(cap).For(0, 300, [&](int, int) { ++blocks; });
    EXPECT_EQ(blocks.load(), std::min(cap, GetParam()));
  }
}

TEST_P(PoolBudget, ATaskGivesItsResultOrItsExceptionToWhoeverWaits) {
  ThreadPool pool(GetParam());
  Task<int> answer = pool.workers().Submit([] { return 42; });
  Task<void> failing = pool.workers().Submit([] { throw std::runtime_error("x"); });
  EXPECT_EQ(answer.Get(), 42);
  EXPECT_THROW(failing.Get(), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Threads, PoolBudget, ::testing::Values(1, 2, 3));

TEST(ThreadPool, ATaskNoWorkerHasTakenRunsOnTheThreadThatWaits) {
  ThreadPool pool(2);  // one worker, which the first task keeps (tasks are taken in order)
  std::atomic<bool> release{false};
  Task<void> busy = pool.workers().Submit([&] {
    while (!release) std::this_thread::yield();
  });
  const auto caller = std::this_thread::get_id();
  Task<bool> next =
      pool.workers().Submit([caller] { return std::this_thread::get_id() == caller; });
  EXPECT_TRUE(next.Get());
  release = true;
  busy.Get();
}

TEST(ThreadPool, AnAbandonedTaskThatNobodyStartedNeverRuns) {
  ThreadPool pool(1);  // no worker at all
  std::atomic<bool> ran{false};
  {
    Task<void> task = pool.workers().Submit([&] { ran = true; });
  }
  EXPECT_FALSE(ran.load());
  Task<void> wanted = pool.workers().Submit([&] { ran = true; });
  wanted.Get();
  EXPECT_TRUE(ran.load());
}

}  // namespace
}  // namespace skyfold
