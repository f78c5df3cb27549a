// Everything the benchmark establishes before timing: that each
// implementation computes what native code computes, how many heap
// allocations each path makes, and how large our bytecode is.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "bench/bytecode_size.h"
#include "bench/enter_path.h"
#include "bench/expression_set.h"
#include "bench/result_checks.h"

namespace bench {

struct ExpressionFacts {
  Agreement Ours;
  Agreement Peer;
  double OurAllocationsPerEvaluation = 0;  // a later evaluation, averaged over the grid
  double PeerAllocationsPerEvaluation = 0;
  double OurAllocationsPerCompile = 0;
  BytecodeSize Bytecode;
};

struct EnterFacts {
  std::string Result;
  double Allocations = 0;
};

struct Facts {
  std::array<ExpressionFacts, ExpressionCount> Expressions;
  std::array<EnterFacts, EnterCommandLines.size()> Enter;
  // Wrong results, one line each; the benchmark fails when there are any.
  std::vector<std::string> Mismatches;
};

Facts GatherFacts();

}  // namespace bench
