#include "bench/timing_reporter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace bench {

namespace {

bool Shown(const benchmark::BenchmarkReporter::Run& run) {
  if (run.run_type == benchmark::BenchmarkReporter::Run::RT_Iteration) return run.repetitions <= 1;
  return run.aggregate_name == "median" || run.aggregate_name == "cv";
}

TimingStats StatsOf(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  const std::size_t n = seconds.size();
  TimingStats stats;
  stats.Repetitions = static_cast<int>(n);
  stats.Fastest = seconds.front();
  stats.Median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
  const double mean = std::accumulate(seconds.begin(), seconds.end(), 0.0) / static_cast<double>(n);
  double squares = 0;
  for (double s : seconds) squares += (s - mean) * (s - mean);
  stats.Variation = n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) / mean : 0;
  return stats;
}

}  // namespace

void TimingReporter::ReportRuns(const std::vector<Run>& runs) {
  std::vector<Run> shown;
  for (const Run& run : runs) {
    if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
      Seconds[run.benchmark_name()].push_back(run.cpu_accumulated_time /
                                              static_cast<double>(run.iterations));
    }
    if (Shown(run)) shown.push_back(run);
  }
  if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
}

std::optional<TimingStats> TimingReporter::Find(const std::string& name) const {
  const auto found = Seconds.find(name);
  if (found == Seconds.end()) return std::nullopt;
  return StatsOf(found->second);
}

}  // namespace bench
