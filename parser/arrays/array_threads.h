// Spreading one evaluation over arrays over several threads, block by
// block. Threads are started for the call, from the standard library
// alone: a library that lives inside other programs and inside Python
// keeps no pool of its own, so no pool lives across fork(), nothing waits
// for a global pool that a caller's own pool of threads already fills, and
// a call made from one of those threads spreads (or not) without
// deadlock. The call returns once every chunk a thread took has ended; a
// thread that the system had not run by then takes nothing, touches
// nothing of the call and ends by itself. The cost is a thread start per
// thread, which the floor of points per thread repays.
// TBB's and OpenMP's pools start once and stay: GNU OpenMP's hangs a
// child forked after the parent used it (measured: the child's first
// parallel region never ends), and both nest a caller's threads into their
// own pool or serialise them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace MathUtils::detail {

// The fewest points a thread gets and a chunk holds, and the points the
// calling thread times first where the floor is measured.
inline constexpr std::size_t LeastPointsPerThread = 4096;
// Work a thread must get to repay its start, which costs some tens of
// microseconds: the floor of points per thread is measured on each call,
// as the points that take this long.
inline constexpr std::int64_t LeastNanosecondsPerThread = 100'000;

// The threads a setting asks for: 0 the default (parser/arrays/default_threads.h),
// else the number itself.
int ThreadsAsked(int threads);

// Whether points may be spread at all at that floor (0: measured): fewer
// stay on the calling thread, asking the system nothing, so that a short
// call costs what it costs on one thread.
inline bool MaySpread(std::size_t points, std::size_t pointsPerThread) {
  return points >= 2 * (pointsPerThread > LeastPointsPerThread ? pointsPerThread : LeastPointsPerThread);
}

// Runs the points [first, end) as run(from, to, written) on at most
// threads threads, the calling one among them, as many as the points
// repay: pointsPerThread each at least; for 0 the calling thread first
// runs LeastPointsPerThread points, timed, and each thread is to have
// LeastNanosecondsPerThread of work at that pace. The points are cut into
// chunks (several a thread, each starting a multiple of 64 points from
// where they begin, so that aligned results stay aligned) that the threads
// take in order as each gets free. Every thread runs in the caller's
// floating-point environment (rounding, denormals), and the exception
// flags they raise are raised in the caller's. run writes the results of
// its chunk alone and sets written to the end of the leading results of
// its chunk that it wrote (from, where none), also where it throws. After
// a failure no chunk is begun any more. written counts the leading results
// written over the whole range however the call ends, and the first
// failure in point order is rethrown once every chunk taken has ended.
// Threads that cannot be started leave their work to the others. A
// cancellation of the calling thread waits until then and acts at the
// end of the call: its helpers run its code and write its results. The
// exception flags the call leaves are those its points raised: it does no
// arithmetic of its own on the calling thread.
void SpreadOverThreads(std::size_t first, std::size_t end, int threads, std::size_t pointsPerThread,
                       const std::function<void(std::size_t, std::size_t, std::size_t&)>& run,
                       std::size_t& written);

// The threads started since the program started, for tests that a call
// did spread.
std::size_t ThreadsStarted();
// The threads started that have not ended yet (see above).
std::size_t HelpersRunning();

}  // namespace MathUtils::detail
