// The timed benchmarks and the names the summary finds them under.
#pragma once

#include <string>

namespace bench {

enum class Implementation { Native, Ours, Peer };

// "eval/ours/04": one sweep over the grid per iteration.
std::string EvalName(Implementation implementation, int expression);
// "compile/ours/04": one compilation per iteration.
std::string CompileName(Implementation implementation, int expression);
// "enter/1": one press of Enter per iteration.
std::string EnterName(int commandLine);

void RegisterBenchmarks();

}  // namespace bench
