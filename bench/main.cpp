// The performance benchmark: our parser against native code and fparser on
// the expression set, compile times, one-shot evaluations and the Enter
// path, then a summary.
//
//   vorncalc-bench [Google Benchmark flags]
//       runs everything in this process and prints the summary of this process
//   vorncalc-bench --timings_out=FILE [Google Benchmark flags]
//       runs everything and writes the timings to FILE instead of a summary
//   vorncalc-bench --summarize FILE...
//       prints the summary of the processes that wrote those files: the median
//       of their medians (scripts/run-bench runs three)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "bench/bulk.h"
#include "bench/facts.h"
#include "bench/summary.h"
#include "bench/timing_reporter.h"

namespace {

// Repeated, interleaved runs by default, so that load from other processes
// spreads over all implementations instead of hitting one of them; any
// flag given on the command line wins.
std::vector<std::string> WithDefaults(std::vector<std::string> arguments) {
  const auto given = [&](const std::string& flag) {
    for (const std::string& argument : arguments)
      if (argument.rfind(flag + "=", 0) == 0) return true;
    return false;
  };
  const std::pair<const char*, const char*> defaults[] = {
      {"--benchmark_repetitions", "5"},
      {"--benchmark_min_time", "0.1"},
      {"--benchmark_enable_random_interleaving", "true"},
  };
  for (const auto& [flag, value] : defaults)
    if (!given(flag)) arguments.push_back(std::string(flag) + "=" + value);
  return arguments;
}

// Removes --NAME=VALUE from the arguments and returns VALUE.
std::optional<std::string> TakeFlag(std::vector<std::string>& arguments, const std::string& name) {
  const std::string prefix = "--" + name + "=";
  for (auto it = arguments.begin(); it != arguments.end(); ++it)
    if (it->rfind(prefix, 0) == 0) {
      std::string value = it->substr(prefix.size());
      arguments.erase(it);
      return value;
    }
  return std::nullopt;
}

void PrintMismatches(const std::vector<std::string>& mismatches) {
  for (const std::string& mismatch : mismatches) std::printf("MISMATCH: %s\n", mismatch.c_str());
}

Bench::Facts CheckedFacts() {
  Bench::Facts facts = Bench::GatherFacts();
  for (std::string& mismatch : Bench::BulkMismatches()) facts.Mismatches.push_back(std::move(mismatch));
  std::printf("Results checked against native on all %d points: %s\n", Bench::GridSize,
              facts.Mismatches.empty() ? "all within tolerance" : "MISMATCHES, see below");
  PrintMismatches(facts.Mismatches);
  std::fflush(stdout);
  return facts;
}

// Runs the timed benchmarks in this process and returns their timings.
Bench::ProcessTimings RunBenchmarks(std::vector<std::string> arguments) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  int count = static_cast<int>(pointers.size());
  benchmark::Initialize(&count, pointers.data());
  if (benchmark::ReportUnrecognizedArguments(count, pointers.data()))
    throw std::runtime_error("unrecognised arguments");
  Bench::RegisterBenchmarks();
  Bench::RegisterBulkBenchmarks();
  Bench::TimingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.Timings();
}

int Summarize(const std::vector<std::string>& files) {
  Bench::Timings timings;
  for (const std::string& file : files) timings.Add(Bench::ReadTimings(file));
  const Bench::Facts facts = CheckedFacts();
  Bench::PrintSummary(stdout, facts, timings);
  return facts.Mismatches.empty() ? 0 : 1;
}

int Run(std::vector<std::string> arguments) {
  const std::optional<std::string> timingsOut = TakeFlag(arguments, "timings_out");
  const Bench::Facts facts = CheckedFacts();
  const Bench::ProcessTimings timings = RunBenchmarks(WithDefaults(std::move(arguments)));
  PrintMismatches(facts.Mismatches);
  if (timingsOut) {
    Bench::WriteTimings(*timingsOut, timings);
  } else {
    Bench::Timings single;
    single.Add(timings);
    Bench::PrintSummary(stdout, facts, single);
  }
  return facts.Mismatches.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  try {
    if (arguments.size() > 1 && arguments[1] == "--summarize") {
      if (arguments.size() == 2) throw std::runtime_error("--summarize needs timings files");
      return Summarize({arguments.begin() + 2, arguments.end()});
    }
    return Run(std::move(arguments));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "benchmark failed: %s\n", error.what());
    return 1;
  }
}
