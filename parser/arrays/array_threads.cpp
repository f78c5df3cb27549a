#include "parser/arrays/array_threads.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
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
#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "parser/arrays/default_threads.h"
#include "parser/program/program.h"

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
  // With no exception flag set: the thread reports the flags its chunks
  // raise, not the caller's.
  void Apply() const {
    std::fesetenv(&Environment);
#if defined(__SSE2__)
    _mm_setcsr(Control);  // denormals-are-zero too, which fesetenv may leave out
#endif
    std::feclearexcept(FE_ALL_EXCEPT);
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
// ones, which the calling thread runs from first on. In integers: the
// caller's exception flags are the points' alone.
std::size_t TimedPointsPerThread(std::size_t& first, std::size_t end, const Run& run, std::size_t& written) {
  const std::size_t probe = std::min(end - first, LeastPointsPerThread);
  const auto begun = std::chrono::steady_clock::now();
  run(first, first + probe, written);
  const std::int64_t took =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - begun).count();
  first += probe;
  const auto points =
      LeastNanosecondsPerThread * static_cast<std::int64_t>(probe) / std::max<std::int64_t>(took, 1);
  return std::max(LeastPointsPerThread, static_cast<std::size_t>(points));
}

#if !defined(_WIN32)
// Cancellation held off while helpers run the caller's chunks: they run
// code and write results that the caller's unwinding would free. The
// call is a cancellation point at its end instead, once they have ended.
class CancellationHeld {
 public:
  CancellationHeld() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &Previous); }
  ~CancellationHeld() { pthread_setcancelstate(Previous, &Previous); }
  CancellationHeld(const CancellationHeld&) = delete;
  CancellationHeld& operator=(const CancellationHeld&) = delete;
  static void ActIfCancelled() { pthread_testcancel(); }

 private:
  int Previous = PTHREAD_CANCEL_ENABLE;
};
#else
class CancellationHeld {  // no cancellation of threads here
 public:
  CancellationHeld() {}  // NOLINT(modernize-use-equals-default): a guard, not unused
  static void ActIfCancelled() {}
};
#endif

// Starts helpers for the chunks and runs them with the calling thread.
void RunOnHelpers(std::shared_ptr<Chunks> chunks, int helpers, std::size_t& written) {
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

}  // namespace

std::size_t ThreadsStarted() { return ThreadsStartedCount.load(std::memory_order_relaxed); }
std::size_t HelpersRunning() { return HelpersRunningCount.load(std::memory_order_acquire); }

int ThreadsAsked(int threads) { return threads != 0 ? threads : DefaultThreadCount(); }

// A cancellation acts at its end, unwinding from here (see program.h).
MATHUTILS_FRAME_UNSANITIZED void SpreadOverThreads(std::size_t first, std::size_t end, int threads,
                                                   std::size_t pointsPerThread, const Run& run,
                                                   std::size_t& written) {
  written = first;
  if (threads == 1 || !MaySpread(end - first, pointsPerThread) || ThreadsAsked(threads) == 1) {
    run(first, end, written);
    return;
  }
  threads = ThreadsAsked(threads);
  if (pointsPerThread == 0) pointsPerThread = TimedPointsPerThread(first, end, run, written);
  const std::size_t repaid = (end - first) / std::max(pointsPerThread, LeastPointsPerThread);
  const auto helpers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), repaid)) - 1;
  if (helpers <= 0) {
    run(first, end, written);
    return;
  }
  {
    const CancellationHeld held;
    RunOnHelpers(std::make_shared<Chunks>(first, end, static_cast<std::size_t>(helpers) + 1, run), helpers,
                 written);
  }
  CancellationHeld::ActIfCancelled();
}

}  // namespace MathUtils::detail
