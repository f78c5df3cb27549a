// Spreading one evaluation over arrays over several threads, block by
// block. Threads are started for the call and joined before it returns,
// from the standard library alone: a library that lives inside other
// programs and inside Python keeps no pool of its own, so nothing lives
// across fork(), nothing waits for a global pool that a caller's own pool
// of threads already fills, and a call made from one of those threads
// spreads (or not) without deadlock. The cost is a thread start per part,
// which the floor of points per thread repays (see the README's figures).
// TBB's and OpenMP's pools start once and stay: OpenMP's (GNU's) hangs a
// child that uses it after fork(), and both nest a caller's threads into
// their own pool or serialise them.
#pragma once

#include <cstddef>
#include <functional>

namespace MathUtils::detail {

// The fewest points a part takes, and the points the calling thread times
// first where the floor is measured.
inline constexpr std::size_t LeastPointsPerThread = 4096;
// Work a part must hold to repay its thread, which costs some tens of
// microseconds to start and join: the floor of points per thread is
// measured on each call, as the points that take this long.
inline constexpr double LeastNanosecondsPerThread = 100e3;

// The threads a setting asks for: 0 every core the system reports (1
// where it reports none), else the number itself.
int ThreadsAsked(int threads);

// Runs the points [first, end) as run(from, to, written) over at most
// threads parts, each on a thread of its own, the first on the calling
// thread. Each part has pointsPerThread points at least; for 0 the calling
// thread first runs LeastPointsPerThread points, timed, and each part of
// the rest is to take LeastNanosecondsPerThread at that pace. Parts start
// a multiple of 64 points from where they begin, so that aligned results
// stay aligned. Every thread runs in the caller's floating-point
// environment (rounding, denormals), and the exception flags they raise
// are raised in the caller's. run writes the results of its part alone and
// sets written to the end of the leading results of its part that it wrote
// (from, where none), also where it throws. written counts the leading
// results written over the whole range however the call ends; where parts
// throw, the exception of the first of them is rethrown once every part
// has ended. A thread that cannot be started leaves its part to the
// calling thread.
void SpreadOverThreads(std::size_t first, std::size_t end, int threads, std::size_t pointsPerThread,
                       const std::function<void(std::size_t, std::size_t, std::size_t&)>& run,
                       std::size_t& written);

// Parts run on threads other than the calling one since the program
// started, for tests that a call did spread.
std::size_t PartsOnOtherThreads();

}  // namespace MathUtils::detail
