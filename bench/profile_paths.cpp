// Runs one path of the benchmark a given number of times and nothing else,
// for instruction-level profiles under valgrind --tool=callgrind:
//   vorncalc-bench-profile compile|eval|enter INDEX COUNT
// INDEX counts from 1: an expression of the set, or an Enter command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/enter_path.h"
#include "bench/expression_set.h"
#include "bench/formulas.h"
#include "calculator/calculator_driver.h"

namespace {

double Compile(int expression, long count) {
  double x = 1.5, y = 2.5, total = 0;
  MathUtils::Parser parser;
  bench::PrepareOurParser(parser, &x, &y);
  const std::string text = bench::Expressions()[expression].Ours;
  for (long i = 0; i < count; ++i) {
    parser.AssignFormula(text);
    total += parser.Evaluate();
  }
  return total;
}

// COUNT evaluations, run as sweeps over the grid.
double Evaluate(int expression, long count) {
  bench::OurFormula formula(bench::Expressions()[expression].Ours);
  double total = 0;
  for (long i = 0; i < count / bench::GridSize; ++i) total += formula.Sweep(bench::Grid());
  return total;
}

double PressEnter(int commandLine, long count) {
  double total = 0;
  for (long i = 0; i < count; ++i)
    total += EvaluateCommandLine(bench::EnterCommandLines[commandLine].Text, bench::EnterUnitSystem)
                 .size();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s compile|eval|enter INDEX COUNT\n", argv[0]);
    return 2;
  }
  const int index = std::atoi(argv[2]) - 1;
  const long count = std::atol(argv[3]);
  const bool enter = std::strcmp(argv[1], "enter") == 0;
  const int limit = enter ? static_cast<int>(bench::EnterCommandLines.size()) : bench::ExpressionCount;
  if (index < 0 || index >= limit || count <= 0) {
    std::fprintf(stderr, "index out of range or count not positive\n");
    return 2;
  }
  double checksum;
  if (enter) checksum = PressEnter(index, count);
  else if (std::strcmp(argv[1], "compile") == 0) checksum = Compile(index, count);
  else if (std::strcmp(argv[1], "eval") == 0) checksum = Evaluate(index, count);
  else {
    std::fprintf(stderr, "unknown path: %s\n", argv[1]);
    return 2;
  }
  std::printf("checksum %g\n", checksum);
}
