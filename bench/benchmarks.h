// The timed benchmarks and the names the summary finds them under.
#pragma once

#include <string>

namespace Bench {

// Native: the formula hand-written in C++; Peer: fparser.
// Interpreted: our parser with machine code switched off (evaluations only).
enum class Implementation { Native, Ours, Peer, Interpreted, VectorMath, AllCores };

// "eval/ours/04": one sweep over the grid per iteration.
std::string EvalName(Implementation implementation, int expression);
// "compile/ours/04": one compilation per iteration.
std::string CompileName(Implementation implementation, int expression);
// "oneshot/ours/1": a new parser, one formula, one evaluation per iteration.
std::string OneShotName(Implementation implementation, int formula);
// "enter/1": one press of Enter per iteration.
std::string EnterName(int commandLine);

void RegisterBenchmarks();

}  // namespace Bench
