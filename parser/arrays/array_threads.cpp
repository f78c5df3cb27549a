#include "parser/arrays/array_threads.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace MathUtils::detail {

namespace {

std::atomic<std::size_t> ThreadsStartedCount{0};
std::atomic<std::size_t> HelpersRunningCount{0};

// Chunks start this many points apart at least: 512 bytes of results, a
// whole number of every vector width and cache line.
constexpr std::size_t ChunkAlignment = 64;

// The calling thread's floating-point environment, for the threads that
// compute its points: their results are the bits it would compute itself.
class FloatEnvironment {
 public:
  FloatEnvironment() {
    std::fegetenv(&Environment);
#if defined(__SSE2__)
    Control = _mm_getcsr();
#endif
  }
  void Apply() const {
    std::fesetenv(&Environment);
#if defined(__SSE2__)
    _mm_setcsr(Control);  // denormals-are-zero too, which fesetenv may leave out
#endif
  }

 private:
  std::fenv_t Environment;
#if defined(__SSE2__)
  unsigned Control = 0;
#endif
};

using Run = std::function<void(std::size_t, std::size_t, std::size_t&)>;

// The points cut into chunks, several a thread, that the threads take in
// order as each gets free: a thread that the system keeps waiting (another
// program's work on the cores) runs fewer of them instead of holding the
// call up, and one that begins after the calling thread has taken the last
// chunk takes none and is not waited for. Its helpers share it: the last
// of them to end frees it. After a failure no chunk is taken any more;
// every chunk before one taken has been taken, so that the results before
// the first failure are all written.
class Chunks {
 public:
  Chunks(std::size_t first, std::size_t end, std::size_t threads, const Run& run) : Runner(run) {
    const std::size_t count = end - first;
    const std::size_t wanted = (count / (threads * ChunksPerThread) + ChunkAlignment - 1) / ChunkAlignment;
    const std::size_t each = std::max(LeastPointsPerThread, wanted * ChunkAlignment);
    for (std::size_t from = first; from < end; from += each)
      Items.push_back({from, std::min(end, from + each), from, nullptr});
  }

  // On a helper: the caller's floating-point environment, then chunks.
  void Help() {
    Environment.Apply();
    RunUntilDone();
  }

  // On the calling thread: chunks until none is left, then no chunk is
  // taken any more, and those taken end; the leading results written, and
  // the first failure in point order rethrown.
  void RunAndFinish(std::size_t& written) {
    RunUntilDone();
    const std::size_t taken = std::min(Next.exchange(Items.size()), Items.size());
    {
      std::unique_lock<std::mutex> lock(Lock);
      AllEnded.wait(lock, [&] { return Ended == taken; });
    }
    if (Raised) std::feraiseexcept(Raised);
    const std::exception_ptr failure = TakeFirstFailure();
    for (const Chunk& chunk : Items) {
      written = chunk.Written;
      if (chunk.Written != chunk.End) break;
    }
    if (failure) std::rethrow_exception(failure);
  }

 private:
  static constexpr std::size_t ChunksPerThread = 8;

  struct Chunk {
    std::size_t First;
    std::size_t End;
    std::size_t Written;
    std::exception_ptr Error;
  };

  // The failures leave the chunks here, on the calling thread: a helper
  // may be the one to free the chunks, after the call has returned.
  std::exception_ptr TakeFirstFailure() {
    std::exception_ptr first;
    for (Chunk& chunk : Items) {
      std::exception_ptr error = std::exchange(chunk.Error, nullptr);
      if (!first) first = std::move(error);
    }
    return first;
  }

  void RunUntilDone() {
    while (!Failed.load(std::memory_order_relaxed)) {
      const std::size_t k = Next.fetch_add(1, std::memory_order_relaxed);
      if (k >= Items.size()) return;
      Chunk& chunk = Items[k];
      try {
        Runner(chunk.First, chunk.End, chunk.Written);
      } catch (...) {
        chunk.Error = std::current_exception();
        Failed.store(true, std::memory_order_relaxed);
      }
      const int flags = std::fetestexcept(FE_ALL_EXCEPT);
      const std::lock_guard<std::mutex> lock(Lock);
      Raised |= flags;
      ++Ended;
      AllEnded.notify_one();
    }
  }

  const Run& Runner;  // the caller's: called only for chunks the call waits for
  const FloatEnvironment Environment;
  std::vector<Chunk> Items;
  std::atomic<std::size_t> Next{0};
  std::atomic<bool> Failed{false};
  std::mutex Lock;
  std::condition_variable AllEnded;
  std::size_t Ended = 0;  // chunks ended, under Lock
  int Raised = 0;         // the exception flags the chunks raised, under Lock
};

// The points that take LeastNanosecondsPerThread at the pace of the first
// ones, which the calling thread runs from first on.
std::size_t TimedPointsPerThread(std::size_t& first, std::size_t end, const Run& run, std::size_t& written) {
  const std::size_t probe = std::min(end - first, LeastPointsPerThread);
  const auto begun = std::chrono::steady_clock::now();
  run(first, first + probe, written);
  const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - begun;
  first += probe;
  const double points = LeastNanosecondsPerThread / std::max(took.count(), 1.0) * static_cast<double>(probe);
  return static_cast<std::size_t>(std::clamp(points, static_cast<double>(LeastPointsPerThread), 1e15));
}

}  // namespace

std::size_t ThreadsStarted() { return ThreadsStartedCount.load(std::memory_order_relaxed); }
std::size_t HelpersRunning() { return HelpersRunningCount.load(std::memory_order_acquire); }

int ThreadsAsked(int threads) {
  if (threads != 0) return threads;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, INT_MAX));
}

void SpreadOverThreads(std::size_t first, std::size_t end, int threads, std::size_t pointsPerThread,
                       const Run& run, std::size_t& written) {
  written = first;
  threads = ThreadsAsked(threads);
  if (threads == 1 || end - first < 2 * std::max(pointsPerThread, LeastPointsPerThread)) {
    run(first, end, written);
    return;
  }
  if (pointsPerThread == 0) pointsPerThread = TimedPointsPerThread(first, end, run, written);
  const std::size_t repaid = (end - first) / std::max(pointsPerThread, LeastPointsPerThread);
  const auto helpers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), repaid)) - 1;
  if (helpers <= 0) {
    run(first, end, written);
    return;
  }
  auto chunks = std::make_shared<Chunks>(first, end, static_cast<std::size_t>(helpers) + 1, run);
  for (int k = 0; k < helpers; ++k) {
    try {
      HelpersRunningCount.fetch_add(1, std::memory_order_relaxed);
      std::thread([chunks]() mutable {
        chunks->Help();
        chunks.reset();
        HelpersRunningCount.fetch_sub(1, std::memory_order_release);
      }).detach();
      ThreadsStartedCount.fetch_add(1, std::memory_order_relaxed);
    } catch (...) {
      // No more threads now (std::system_error, or no memory for one):
      // those started and the calling thread share the chunks. Leaving by
      // the exception instead would leave them running the caller's run.
      HelpersRunningCount.fetch_sub(1, std::memory_order_relaxed);
      break;
    }
  }
  chunks->RunAndFinish(written);
}

}  // namespace MathUtils::detail
