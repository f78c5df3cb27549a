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

std::atomic<std::size_t> PartsStarted{0};

// Parts start this many points apart at least: 512 bytes of results, a
// whole number of every vector width and cache line.
constexpr std::size_t PartAlignment = 64;

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

struct Part {
  std::size_t First = 0;
  std::size_t End = 0;
  std::size_t Written = 0;
  std::exception_ptr Error;
  int Raised = 0;  // the floating-point exception flags it raised
  bool Started = false;
};

std::vector<Part> Split(std::size_t first, std::size_t end, int threads, std::size_t pointsPerThread) {
  const std::size_t count = end - first;
  const std::size_t parts = std::max<std::size_t>(
      1,
      std::min(static_cast<std::size_t>(threads), count / std::max(pointsPerThread, LeastPointsPerThread)));
  const std::size_t each = (count / parts + PartAlignment - 1) / PartAlignment * PartAlignment;
  std::vector<Part> split(parts);
  for (std::size_t k = 0; k < parts; ++k) {
    split[k].First = split[k].Written = first + k * each;
    split[k].End = std::min(end, split[k].First + each);
  }
  return split;
}

using Run = std::function<void(std::size_t, std::size_t, std::size_t&)>;

void RunPart(Part& part, const Run& run) {
  try {
    run(part.First, part.End, part.Written);
  } catch (...) {
    part.Error = std::current_exception();
  }
}

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

std::size_t PartsOnOtherThreads() { return PartsStarted.load(std::memory_order_relaxed); }

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
  std::vector<Part> parts = Split(first, end, threads, pointsPerThread);
  if (parts.size() == 1) {
    run(first, end, written);
    return;
  }
  const FloatEnvironment environment;
  {
    std::vector<std::jthread> started;  // joined on the way out, however it is left
    started.reserve(parts.size() - 1);
    for (std::size_t k = 1; k < parts.size(); ++k) {
      try {
        started.emplace_back([&environment, &part = parts[k], &run] {
          environment.Apply();
          RunPart(part, run);
          part.Raised = std::fetestexcept(FE_ALL_EXCEPT);
        });
        parts[k].Started = true;
        PartsStarted.fetch_add(1, std::memory_order_relaxed);
      } catch (const std::system_error&) {
        break;  // no more threads now: the calling thread runs the rest
      }
    }
    RunPart(parts[0], run);
    for (Part& part : parts)
      if (&part != &parts[0] && !part.Started) RunPart(part, run);
  }
  for (const Part& part : parts)
    if (part.Raised) std::feraiseexcept(part.Raised);
  for (const Part& part : parts) {
    written = part.Written;
    if (part.Error) std::rethrow_exception(part.Error);
    if (part.Written != part.End) return;
  }
}

}  // namespace MathUtils::detail
