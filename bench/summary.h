// The summary printed after the timed runs: tables in Markdown, ratios
// between implementations measured in the same run, the targets, and four
// closing lines for tools to read.
#pragma once

#include <cstdio>

#include "bench/facts.h"
#include "bench/timings.h"

namespace Bench {

void PrintSummary(std::FILE* out, const Facts& facts, const Timings& timings);

}  // namespace Bench
