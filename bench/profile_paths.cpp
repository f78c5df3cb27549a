// Runs one path of the benchmark a given number of times and nothing else,
// for instruction-level profiles under valgrind --tool=callgrind:
//   vorncalc-bench-profile PATH INDEX COUNT
// PATH is one of
//   compile          ours: assign an expression of the set and evaluate once
//   eval             ours: later evaluations of an expression (COUNT of them)
//   oneshot          ours: new parser, one-shot formula, one evaluation
//   construct        ours: new parser with the default vocabulary alone (INDEX unused)
//   enter            the Enter path on a command line
//   peer-compile     fparser: Parse of an expression of the set
//   peer-oneshot     fparser: new FunctionParser, Parse, Eval
// INDEX counts from 1: an expression of the set, a one-shot formula or an
// Enter command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/enter_path.h"
#include "bench/expression_set.h"
#include "bench/formulas.h"
#include "bench/one_shot.h"
#include "calculator/calculator_driver.h"

namespace {

double Compile(int expression, long count) {
  double x = 1.5, y = 2.5, total = 0;
  MathUtils::Parser parser;
  Bench::PrepareOurParser(parser, &x, &y);
  const std::string text = Bench::Expressions()[expression].Ours;
  for (long i = 0; i < count; ++i) {
    parser.AssignFormula(text);
    total += parser.Evaluate();
  }
  return total;
}

// COUNT evaluations, run as sweeps over the grid.
double Evaluate(int expression, long count) {
  Bench::OurFormula formula(Bench::Expressions()[expression].Ours);
  double total = 0;
  for (long i = 0; i < count / Bench::GridSize; ++i) total += formula.Sweep(Bench::Grid());
  return total;
}

double OneShot(int formula, long count) {
  double total = 0;
  for (long i = 0; i < count; ++i) total += Bench::OurOneShot(Bench::OneShotFormulas()[formula].Ours);
  return total;
}

double Construct(int, long count) {
  double total = 0;
  for (long i = 0; i < count; ++i) {
    auto parser = std::make_unique<MathUtils::Parser>();
    total += static_cast<double>(parser->GetFormula().size());
  }
  return total;
}

double PressEnter(int commandLine, long count) {
  double total = 0;
  for (long i = 0; i < count; ++i)
    total += EvaluateCommandLine(Bench::EnterCommandLines[commandLine].Text, Bench::EnterUnitSystem).size();
  return total;
}

double PeerCompile(int expression, long count) {
  FunctionParser parser;
  Bench::PreparePeerParser(parser);
  const std::string text = Bench::Expressions()[expression].Peer;
  double total = 0;
  for (long i = 0; i < count; ++i) total += parser.Parse(text, "x,y");
  return total;
}

double PeerOneShot(int formula, long count) {
  double total = 0;
  for (long i = 0; i < count; ++i) total += Bench::PeerOneShot(Bench::OneShotFormulas()[formula].Peer);
  return total;
}

struct Path {
  const char* Name;
  double (*Run)(int index, long count);
  int Indices;
};

const Path Paths[] = {
    {"compile", Compile, Bench::ExpressionCount},
    {"eval", Evaluate, Bench::ExpressionCount},
    {"oneshot", OneShot, Bench::OneShotCount},
    {"construct", Construct, 1},
    {"enter", PressEnter, static_cast<int>(Bench::EnterCommandLines.size())},
    {"peer-compile", PeerCompile, Bench::ExpressionCount},
    {"peer-oneshot", PeerOneShot, Bench::OneShotCount},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PATH INDEX COUNT (see the source for the paths)\n", argv[0]);
    return 2;
  }
  for (const Path& path : Paths) {
    if (std::strcmp(argv[1], path.Name) != 0) continue;
    const int index = std::atoi(argv[2]) - 1;
    const long count = std::atol(argv[3]);
    if (index < 0 || index >= path.Indices || count <= 0) {
      std::fprintf(stderr, "index out of range (1 to %d) or count not positive\n", path.Indices);
      return 2;
    }
    std::printf("checksum %g\n", path.Run(index, count));
    return 0;
  }
  std::fprintf(stderr, "unknown path: %s\n", argv[1]);
  return 2;
}
