#include "bench/timings.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <sstream>
#include <stdexcept>

namespace Bench {

namespace {

double CoefficientOfVariation(const std::vector<double>& values) {
  const std::size_t n = values.size();
  if (n < 2) return 0;
  const double mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
  double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  return std::sqrt(squares / static_cast<double>(n - 1)) / mean;
}

}  // namespace

double Median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::optional<TimingStats> Timings::Find(const std::string& name) const {
  std::vector<double> medians;
  TimingStats stats;
  stats.Fastest = INFINITY;
  for (const ProcessTimings& process : Processes) {
    const auto found = process.find(name);
    if (found == process.end() || found->second.empty()) continue;
    const std::vector<double>& seconds = found->second;
    medians.push_back(Median(seconds));
    stats.Fastest = std::min(stats.Fastest, *std::min_element(seconds.begin(), seconds.end()));
    stats.Variation = std::max(stats.Variation, CoefficientOfVariation(seconds));
    stats.Repetitions = std::max(stats.Repetitions, static_cast<int>(seconds.size()));
  }
  if (medians.empty()) return std::nullopt;
  const auto [low, high] = std::minmax_element(medians.begin(), medians.end());
  stats.Spread = *low > 0 ? *high / *low : 1;
  stats.Processes = static_cast<int>(medians.size());
  stats.Median = Median(std::move(medians));
  return stats;
}

std::optional<double> Timings::ProcessMedian(const std::string& name, int process) const {
  if (process < 0 || process >= ProcessCount()) return std::nullopt;
  const auto found = Processes[process].find(name);
  if (found == Processes[process].end() || found->second.empty()) return std::nullopt;
  return Median(found->second);
}

void WriteTimings(const std::string& path, const ProcessTimings& timings) {
  std::ofstream file(path);
  file.precision(17);
  for (const auto& [name, seconds] : timings) {
    file << name;
    for (double s : seconds) file << ' ' << s;
    file << '\n';
  }
  if (!file.flush()) throw std::runtime_error("cannot write timings to " + path);
}

ProcessTimings ReadTimings(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read timings from " + path);
  ProcessTimings timings;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    std::istringstream fields(line);
    std::string name;
    if (!(fields >> name)) continue;
    std::vector<double>& seconds = timings[name];
    for (double s; fields >> s;) seconds.push_back(s);
    if (!fields.eof() || seconds.empty())
      throw std::runtime_error(path + ":" + std::to_string(number) + ": not a timings line");
  }
  return timings;
}

}  // namespace Bench
