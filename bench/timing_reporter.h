// A console reporter that also keeps the CPU time of every repetition, so
// that the summary can compare implementations measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

#include "bench/timings.h"

namespace Bench {

class TimingReporter : public benchmark::ConsoleReporter {
 public:
  // Shows only the median and the coefficient of variation of repeated
  // benchmarks; every repetition is kept all the same.
  void ReportRuns(const std::vector<Run>& runs) override;

  const ProcessTimings& Timings() const { return Seconds; }

 private:
  ProcessTimings Seconds;
};

}  // namespace Bench
