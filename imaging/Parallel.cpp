#include "imaging/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace skyfold {
namespace {

std::atomic<int> g_threadCount{0};

int DefaultThreadCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

}  // namespace

void SetThreadCount(int n) { g_threadCount = n > 0 ? n : 0; }

int ThreadCount() {
  const int n = g_threadCount;
  return n > 0 ? n : DefaultThreadCount();
}

void ParallelFor(int begin, int end, const std::function<void(int, int)>& body, int minBlock) {
  const int total = end - begin;
  if (total <= 0) return;
  minBlock = std::max(1, minBlock);
  const int blocks = std::clamp(total / minBlock, 1, ThreadCount());
  if (blocks == 1) {
    body(begin, end);
    return;
  }
  // Block b covers [begin + total*b/blocks, begin + total*(b+1)/blocks).
  auto bound = [&](int b) {
    return begin + static_cast<int>(static_cast<long long>(total) * b / blocks);
  };
  std::vector<std::exception_ptr> errors(blocks);
  std::vector<std::thread> workers;
  workers.reserve(blocks - 1);
  for (int b = 1; b < blocks; ++b) {
    workers.emplace_back([&, b] {
      try {
        body(bound(b), bound(b + 1));
      } catch (...) {
        errors[b] = std::current_exception();
      }
    });
  }
  try {
    body(bound(0), bound(1));
  } catch (...) {
    errors[0] = std::current_exception();
  }
  for (auto& w : workers) w.join();
  for (auto& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace skyfold
