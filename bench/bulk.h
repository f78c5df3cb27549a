// Formulas over arrays: each formula of the set hand-written as a loop over
// arrays, and ours evaluated over the same arrays, on two sets of points.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "bench/timings.h"

namespace Bench {

// The grid's 1,024 points, and 2^20 random points in the same ranges.
enum class BulkSet { Grid, Random };
inline constexpr BulkSet BulkSets[] = {BulkSet::Grid, BulkSet::Random};

// "bulk/ours/04/grid": the formula at every point of the set per iteration.
std::string BulkName(Implementation implementation, int expression, BulkSet set);
std::size_t BulkPointCount(BulkSet set);

void RegisterBulkBenchmarks();
// Whether the benchmark's time is the wall clock's: the threads it starts
// work for it too, which the calling thread's processor time leaves out.
bool OnTheWallClock(const std::string& name);

// Points where ours over arrays differs from our Evaluate at that point (bit
// for bit), or from native beyond the tolerance of the other checks.
std::vector<std::string> BulkMismatches();

// The table of ns per point, and the ratio line for tools.
void PrintBulkSummary(std::FILE* out, const Timings& timings);

}  // namespace Bench
