#include "bench/benchmarks.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "bench/enter_path.h"
#include "bench/expression_set.h"
#include "bench/formulas.h"
#include "bench/one_shot.h"
#include "calculator/calculator_driver.h"

namespace Bench {

namespace {

const char* ImplementationName(Implementation implementation) {
  switch (implementation) {
    case Implementation::Native: return "native";
    case Implementation::Ours: return "ours";
    case Implementation::Peer: return "fparser";
    case Implementation::Interpreted: return "interpreted";
    case Implementation::VectorMath: return "vector";
    case Implementation::AllCores: return "all-cores";
  }
  return "?";
}

std::string Numbered(const char* kind, Implementation implementation, int index,
                     const char* format = "%s/%s/%02d") {
  char name[48];
  std::snprintf(name, sizeof name, format, kind, ImplementationName(implementation), index + 1);
  return name;
}

void EvalNative(benchmark::State& state, int expression) {
  const NativeSweep sweep = Expressions()[expression].Sweep;
  for (auto _ : state) benchmark::DoNotOptimize(sweep(Grid()));
}

// The machine code is made during the first sweep, before timing starts.
void EvalOurs(benchmark::State& state, int expression) {
  const auto formula = std::make_unique<OurFormula>(Expressions()[expression].Ours);
  formula->Sweep(Grid());
  for (auto _ : state) benchmark::DoNotOptimize(formula->Sweep(Grid()));
}

void EvalInterpreted(benchmark::State& state, int expression) {
  const auto formula =
      std::make_unique<OurFormula>(Expressions()[expression].Ours, /*optimizer=*/true, /*machineCode=*/false);
  formula->Sweep(Grid());
  for (auto _ : state) benchmark::DoNotOptimize(formula->Sweep(Grid()));
}

void EvalPeer(benchmark::State& state, int expression) {
  const auto formula = std::make_unique<PeerFormula>(Expressions()[expression].Peer);
  for (auto _ : state) benchmark::DoNotOptimize(formula->Sweep(Grid()));
}

// Assigning the text marks the formula changed; the Evaluate after it
// compiles and returns the compile-time value.
void CompileOurs(benchmark::State& state, int expression) {
  double x = 1.5, y = 2.5;
  MathUtils::Parser parser;
  PrepareOurParser(parser, &x, &y);
  const std::string text = Expressions()[expression].Ours;
  for (auto _ : state) {
    parser.AssignFormula(text);
    benchmark::DoNotOptimize(parser.Evaluate());
  }
}

// The peer's Parse alone; its Optimize() is a separate, optional step.
void CompilePeer(benchmark::State& state, int expression) {
  FunctionParser parser;
  PreparePeerParser(parser);
  const std::string text = Expressions()[expression].Peer;
  for (auto _ : state) benchmark::DoNotOptimize(parser.Parse(text, "x,y"));
}

// Construction, parsing, one evaluation and destruction, as a caller that
// needs one value pays for them.
void OneShotOurs(benchmark::State& state, int formula) {
  const char* text = OneShotFormulas()[formula].Ours;
  for (auto _ : state) benchmark::DoNotOptimize(OurOneShot(text));
}

void OneShotPeer(benchmark::State& state, int formula) {
  const char* text = OneShotFormulas()[formula].Peer;
  for (auto _ : state) benchmark::DoNotOptimize(PeerOneShot(text));
}

void PressEnter(benchmark::State& state, int commandLine) {
  const char* text = EnterCommandLines[commandLine].Text;
  for (auto _ : state) benchmark::DoNotOptimize(EvaluateCommandLine(text, EnterUnitSystem));
}

}  // namespace

std::string EvalName(Implementation implementation, int expression) {
  return Numbered("eval", implementation, expression);
}

std::string CompileName(Implementation implementation, int expression) {
  return Numbered("compile", implementation, expression);
}

std::string OneShotName(Implementation implementation, int formula) {
  return Numbered("oneshot", implementation, formula, "%s/%s/%d");
}

std::string EnterName(int commandLine) { return "enter/" + std::to_string(commandLine + 1); }

void RegisterBenchmarks() {
  for (int i = 0; i < ExpressionCount; ++i) {
    benchmark::RegisterBenchmark(EvalName(Implementation::Native, i).c_str(), EvalNative, i);
    benchmark::RegisterBenchmark(EvalName(Implementation::Ours, i).c_str(), EvalOurs, i);
    benchmark::RegisterBenchmark(EvalName(Implementation::Peer, i).c_str(), EvalPeer, i);
    benchmark::RegisterBenchmark(EvalName(Implementation::Interpreted, i).c_str(), EvalInterpreted, i);
  }
  for (int i = 0; i < ExpressionCount; ++i) {
    benchmark::RegisterBenchmark(CompileName(Implementation::Ours, i).c_str(), CompileOurs, i);
    benchmark::RegisterBenchmark(CompileName(Implementation::Peer, i).c_str(), CompilePeer, i);
  }
  for (int i = 0; i < OneShotCount; ++i) {
    benchmark::RegisterBenchmark(OneShotName(Implementation::Ours, i).c_str(), OneShotOurs, i);
    benchmark::RegisterBenchmark(OneShotName(Implementation::Peer, i).c_str(), OneShotPeer, i);
  }
  for (int i = 0; i < static_cast<int>(EnterCommandLines.size()); ++i)
    benchmark::RegisterBenchmark(EnterName(i).c_str(), PressEnter, i);
}

}  // namespace Bench
