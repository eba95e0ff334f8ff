// Deterministic data parallelism for the pixel loops: a range of rows is cut
// into one contiguous block per thread, each thread owns its rows, and
// nothing is shared but read-only input. Results therefore never depend on
// the thread count.
#pragma once

#include <functional>

namespace skyfold {

// Threads the pixel loops may use; defaults to the number of cores.
// n ≤ 0 restores the default.
void SetThreadCount(int n);
int ThreadCount();

// The rows of a pixel loop over rows `width` pixels wide that one thread
// should take at least (64 Ki pixels), so that handing work to a thread
// costs little against the work: the minBlock of such loops.
int MinRowsPerBlock(int width);

// Calls body(first, last) for disjoint blocks [first, last) that cover
// [begin, end), on up to ThreadCount() threads (the calling thread takes the
// first block). Blocks smaller than minBlock are not split further.
// An exception in any block is rethrown on the calling thread.
void ParallelFor(int begin, int end, const std::function<void(int first, int last)>& body,
                 int minBlock = 1);

// Like ParallelFor, but [begin, end) is cut into runs of `grain` that are
// dealt to the threads in turn, so work whose cost drifts along the range
// (rows that cross more and more of a picture) is shared evenly. body gets
// one run at a time. As with ParallelFor, runs never depend on the thread
// count in what they compute.
void ParallelForInterleaved(int begin, int end, int grain,
                            const std::function<void(int first, int last)>& body);

// While one lives, ParallelFor calls made on its thread use at most
// `threads` threads (the innermost limit counts): for work done beside
// another busy thread, which it should not take cores from.
class ThreadLimit {
 public:
  explicit ThreadLimit(int threads);
  ~ThreadLimit();
  ThreadLimit(const ThreadLimit&) = delete;
  ThreadLimit& operator=(const ThreadLimit&) = delete;

 private:
  int previous_;
};

// A limit of one thread: every ParallelFor of this thread runs as one block
// on it.
class SerialSection : public ThreadLimit {
 public:
  SerialSection() : ThreadLimit(1) {}
};

}  // namespace skyfold
