// The summary printed after the timed runs: tables in Markdown, ratios to
// native measured in the same run, the targets, and three closing lines for
// tools to read.
#pragma once

#include <cstdio>

#include "bench/facts.h"
#include "bench/timing_reporter.h"

namespace bench {

void PrintSummary(std::FILE* out, const Facts& facts, const TimingReporter& timings);

}  // namespace bench
