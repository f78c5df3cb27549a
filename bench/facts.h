// Everything the benchmark establishes before timing: that each
// implementation computes what native code computes, how many heap
// allocations each path makes, how much memory a parser holds, and how large
// our bytecode is.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bytecode_size.h"
#include "bench/enter_path.h"
#include "bench/expression_set.h"
#include "bench/one_shot.h"
#include "bench/result_checks.h"

namespace Bench {

struct ExpressionFacts {
  Agreement Ours;
  Agreement Peer;
  double OurAllocationsPerEvaluation = 0;  // a later evaluation, averaged over the grid
  double PeerAllocationsPerEvaluation = 0;
  double OurAllocationsPerCompile = 0;
  // A parser with x, y and clamp defined and this formula compiled: the
  // object and the heap it holds.
  std::int64_t OurParserBytes = 0;
  std::int64_t PeerParserBytes = 0;  // after Parse
  BytecodeSize Bytecode;
  // The machine code that later evaluations run: instructions and constants.
  std::int64_t OurMachineCodeBytes = 0;
};

// One side of a one-shot: the value it computed, what the whole shot
// allocated, and the memory of its parser just before it is dropped.
struct OneShotSide {
  double Value = 0;
  bool Exact = false;  // equal to the native value bit for bit
  double Allocations = 0;
  std::int64_t ParserBytes = 0;
};

struct OneShotFacts {
  OneShotSide Ours;
  OneShotSide Peer;
};

struct EnterFacts {
  std::string Result;
  double Allocations = 0;
};

struct Facts {
  std::array<ExpressionFacts, ExpressionCount> Expressions;
  std::array<OneShotFacts, OneShotCount> OneShot;
  std::array<EnterFacts, EnterCommandLines.size()> Enter;
  // Wrong results, one line each; the benchmark fails when there are any.
  std::vector<std::string> Mismatches;
};

Facts GatherFacts();

}  // namespace Bench
