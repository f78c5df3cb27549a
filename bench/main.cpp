// The performance benchmark: our parser against native code and fparser on
// the expression set, compile times and the Enter path, then a summary.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "bench/facts.h"
#include "bench/summary.h"
#include "bench/timing_reporter.h"

namespace {

// Repeated, interleaved runs by default, so that load from other processes
// spreads over all implementations instead of hitting one of them; any
// flag given on the command line wins.
std::vector<std::string> ArgumentsWithDefaults(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
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

void PrintMismatches(const std::vector<std::string>& mismatches) {
  for (const std::string& mismatch : mismatches) std::printf("MISMATCH: %s\n", mismatch.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments = ArgumentsWithDefaults(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  int count = static_cast<int>(pointers.size());
  benchmark::Initialize(&count, pointers.data());
  if (benchmark::ReportUnrecognizedArguments(count, pointers.data())) return 2;

  try {
    const bench::Facts facts = bench::GatherFacts();
    std::printf("Results checked against native on all %d points: %s\n", bench::GridSize,
                facts.Mismatches.empty() ? "all within tolerance" : "MISMATCHES, see below");
    PrintMismatches(facts.Mismatches);
    std::fflush(stdout);

    bench::RegisterBenchmarks();
    bench::TimingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    PrintMismatches(facts.Mismatches);
    bench::PrintSummary(stdout, facts, reporter);
    return facts.Mismatches.empty() ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "benchmark failed: %s\n", error.what());
    return 1;
  }
}
