#include "bench/timing_reporter.h"

#include "bench/bulk.h"

namespace Bench {

namespace {

bool Shown(const benchmark::BenchmarkReporter::Run& run) {
  if (run.run_type == benchmark::BenchmarkReporter::Run::RT_Iteration) return run.repetitions <= 1;
  return run.aggregate_name == "median" || run.aggregate_name == "cv";
}

}  // namespace

void TimingReporter::ReportRuns(const std::vector<Run>& runs) {
  std::vector<Run> shown;
  for (const Run& run : runs) {
    if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
      const std::string name = run.benchmark_name();
      const double seconds = OnTheWallClock(name) ? run.real_accumulated_time : run.cpu_accumulated_time;
      Seconds[name].push_back(seconds / static_cast<double>(run.iterations));
    }
    if (Shown(run)) shown.push_back(run);
  }
  if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
}

}  // namespace Bench
