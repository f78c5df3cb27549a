#include "parser/array_threads.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <climits>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace MathUtils::detail {

namespace {

std::atomic<std::size_t> ThreadsStartedCount{0};

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
// call up. After a failure no chunk is taken any more; every chunk before
// one taken has been taken, so that the results before the first failure
// are all written.
class Chunks {
 public:
  Chunks(std::size_t first, std::size_t end, std::size_t threads) {
    const std::size_t count = end - first;
    const std::size_t wanted = (count / (threads * ChunksPerThread) + ChunkAlignment - 1) / ChunkAlignment;
    const std::size_t each = std::max(LeastPointsPerThread, wanted * ChunkAlignment);
    for (std::size_t from = first; from < end; from += each)
      Items.push_back({from, std::min(end, from + each), from, nullptr});
  }

  void RunUntilDone(const Run& run) {
    while (!Failed.load(std::memory_order_relaxed)) {
      const std::size_t k = Next.fetch_add(1, std::memory_order_relaxed);
      if (k >= Items.size()) return;
      Chunk& chunk = Items[k];
      try {
        run(chunk.First, chunk.End, chunk.Written);
      } catch (...) {
        chunk.Error = std::current_exception();
        Failed.store(true, std::memory_order_relaxed);
      }
    }
  }

  // Once every thread has ended: the leading results written, and the
  // first failure in point order rethrown.
  void Finish(std::size_t& written) const {
    for (const Chunk& chunk : Items) {
      written = chunk.Written;
      if (chunk.Error) std::rethrow_exception(chunk.Error);
      if (chunk.Written != chunk.End) return;
    }
  }

 private:
  static constexpr std::size_t ChunksPerThread = 8;

  struct Chunk {
    std::size_t First;
    std::size_t End;
    std::size_t Written;
    std::exception_ptr Error;
  };

  std::vector<Chunk> Items;
  std::atomic<std::size_t> Next{0};
  std::atomic<bool> Failed{false};
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
  const FloatEnvironment environment;
  Chunks chunks(first, end, static_cast<std::size_t>(helpers) + 1);
  std::vector<int> raised(static_cast<std::size_t>(helpers), 0);  // each helper's exception flags
  {
    std::vector<std::jthread> started;  // joined on the way out, however it is left
    started.reserve(raised.size());
    for (int& flags : raised) {
      try {
        started.emplace_back([&environment, &chunks, &run, &flags] {
          environment.Apply();
          chunks.RunUntilDone(run);
          flags = std::fetestexcept(FE_ALL_EXCEPT);
        });
        ThreadsStartedCount.fetch_add(1, std::memory_order_relaxed);
      } catch (const std::system_error&) {
        break;  // no more threads now: those started and the calling thread share the chunks
      }
    }
    chunks.RunUntilDone(run);
  }
  for (const int flags : raised)
    if (flags) std::feraiseexcept(flags);
  chunks.Finish(written);
}

}  // namespace MathUtils::detail
