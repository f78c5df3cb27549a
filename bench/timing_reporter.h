// A console reporter that also keeps the CPU time of every repetition, so
// that the summary can compare implementations measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct TimingStats {
  double Median = 0;     // seconds per iteration
  double Fastest = 0;
  double Variation = 0;  // standard deviation over mean, over repetitions
  int Repetitions = 0;
};

class TimingReporter : public benchmark::ConsoleReporter {
 public:
  // Shows only the median and the coefficient of variation of repeated
  // benchmarks; every repetition is kept all the same.
  void ReportRuns(const std::vector<Run>& runs) override;

  // Empty when the benchmark did not run (filtered out or failed).
  std::optional<TimingStats> Find(const std::string& name) const;

 private:
  std::map<std::string, std::vector<double>> Seconds;
};

}  // namespace bench
