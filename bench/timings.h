// The CPU time of every repetition of every benchmark, kept per process, so
// that runs in separate processes can be combined: one process's memory
// layout can slow a formula for the whole process, which repetitions inside
// that process cannot average out, while the median of several processes'
// medians can.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Bench {

// Seconds per iteration, one value per repetition, by benchmark name.
using ProcessTimings = std::map<std::string, std::vector<double>>;

struct TimingStats {
  double Median = 0;     // seconds per iteration: the median of the processes' medians
  double Fastest = 0;    // the fastest repetition of all processes
  double Variation = 0;  // the largest coefficient of variation within one process
  double Spread = 1;     // slowest process median over fastest process median
  int Processes = 0;
  int Repetitions = 0;  // per process
};

// Median of the values; even counts take the mean of the middle two.
double Median(std::vector<double> values);

class Timings {
 public:
  // The timings of one more process.
  void Add(ProcessTimings process) { Processes.push_back(std::move(process)); }
  int ProcessCount() const { return static_cast<int>(Processes.size()); }

  // Over all processes that ran the benchmark; empty when none did.
  std::optional<TimingStats> Find(const std::string& name) const;
  // The median of one process's repetitions.
  std::optional<double> ProcessMedian(const std::string& name, int process) const;

 private:
  std::vector<ProcessTimings> Processes;
};

// The file of one process: a line per benchmark, its name and then the
// seconds of each repetition, blank-separated, at full precision.
void WriteTimings(const std::string& path, const ProcessTimings& timings);
// Throws std::runtime_error when the file cannot be read or is malformed.
ProcessTimings ReadTimings(const std::string& path);

}  // namespace Bench
