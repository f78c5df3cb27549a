// The x86 backend: each operation is lowered once, whatever the width, and
// the one-point code and the loops of every width then compute the bits of
// the program's interpreter.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cell_entries.h"
#include "parser/lowering/lowering.h"
#include "parser/parser.h"
#include "parser/program/program.h"
#include "parser/x86/array_code.h"
#include "parser/x86/machine_code.h"

namespace ParserTests {
namespace {

using MathUtils::detail::ArrayCode;
using MathUtils::detail::Lower;
using MathUtils::detail::MachineCode;
using MathUtils::detail::Program;
using MathUtils::detail::Step;

double X = 0, Y = 0;
const double Inf = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

struct Point {
  double X, Y;
};
// Eight points, a whole group of every width.
const Point Points[] = {{1.5, -2.25}, {-7, 0.5}, {0.0, -0.0},     {NaN, 1},
                        {Inf, -Inf},  {2, 2},    {1e300, 1e-300}, {-1, 3}};

double Twice(double value) { return 2 * value; }
double Spread(std::span<const double> values) { return values.front() * 3 - values.back(); }
double Shift = 0.75;
double Shifted(void* context, double value) { return value + *static_cast<const double*>(context); }
double ShiftedEnds(void* context, std::span<const double> values) {
  return *static_cast<const double*>(context) + values.front() * 3 - values.back();
}

// The program of the formula, as later evaluations derive it.
Program ProgramOf(const std::string& formula) {
  MathUtils::Parser parser;
  parser.SetOptimizer(false);
  parser.AddVariable("x", &X);
  parser.AddVariable("y", &Y);
  parser.AddMathFunctions();
  parser.AddFunction("twice", Twice, false);
  parser.AddFunction("spread", Spread, false);
  parser.AddFunction("shifted", Shifted, &Shift, false);
  parser.AddFunction("shiftedends", ShiftedEnds, &Shift, false);
  parser.AssignFormula(formula);
  parser.Evaluate();
  Program program;
  EXPECT_TRUE(program.Derive(parser.GetBytecode())) << formula;
  return program;
}

// A power by a number that no compiled formula leaves, written as cells.
Program PowerFromCells(double exponent) {
  using namespace CellEntries;
  Program program;
  EXPECT_TRUE(program.Derive(Cells({Variable(1, &X), Value(2, exponent), {1, MathUtils::cdPow}})));
  return program;
}

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// What the program's interpreter gives at each point.
std::vector<double> Interpreted(const Program& program) {
  std::vector<double> values;
  MathUtils::detail::Frame frame;
  for (const Point& point : Points) {
    X = point.X, Y = point.Y;
    values.push_back(MathUtils::detail::RunProgram(program, frame));
  }
  return values;
}

std::vector<double> OnePoint(const MachineCode& code) {
  std::vector<double> values;
  const auto entry = reinterpret_cast<double (*)(void*)>(code.Entry());
  for (const Point& point : Points) {
    X = point.X, Y = point.Y;
    values.push_back(entry(nullptr));
  }
  return values;
}

// The loop over arrays of x and y; any other variable it reads holds still.
std::vector<double> OverArrays(const ArrayCode& loop) {
  std::vector<double> xs, ys;
  for (const Point& point : Points) xs.push_back(point.X), ys.push_back(point.Y);
  std::vector<MathUtils::detail::ArraySource> sources;
  for (const double* variable : loop.Variables()) {
    const double* values = variable == &X ? xs.data() : variable == &Y ? ys.data() : nullptr;
    sources.push_back({values, 0});
  }
  std::vector<double> results(std::size(Points));
  MathUtils::detail::ArrayRun run{sources.data(), results.data(), results.size(), 0, 0};
  loop.Run(run);
  return results;
}

void ExpectSameBits(const std::vector<double>& expected, const std::vector<double>& actual,
                    const std::string& context) {
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(Bits(expected[i]), Bits(actual[i]))
        << context << " at x=" << Points[i].X << " y=" << Points[i].Y << ": " << expected[i] << " vs "
        << actual[i];
}

struct Case {
  const char* Formula;  // or a power by Exponent from cells where null
  Step Lowered;         // of the last instruction
  double Exponent = 0;
};

// Every operation once, with what it is lowered to, x^1 and x^2 from cells
// included: the one-point code and the loops in every width the processor
// has give the interpreter's bits, and on x86-64 the one-point code takes
// a frame exactly where the lowering calls.
TEST(Backend, EveryOperationLoweredAlikeForOnePointAndEveryWidth) {
  if (!MachineCode::Supported()) GTEST_SKIP() << "no machine code in this build";
  const Case cases[] = {
      {"x <= y", Step::Operation},
      {"x >= y", Step::Operation},
      {"x != y", Step::Operation},
      {"x == y", Step::Operation},
      {"x < y", Step::Operation},
      {"x > y", Step::Operation},
      {"x + y", Step::Operation},
      {"x - y", Step::Operation},
      {"x * y", Step::Operation},
      {"x / y", Step::Operation},
      {"x / 3", Step::Operation},
      {"x / 4", Step::Reciprocal},
      {"x / 0.5", Step::Reciprocal},
      {"x and y", Step::Operation},
      {"x or y", Step::Operation},
      {"x ^ y", Step::CallTwo},
      {"x ^ 3", Step::CallTwo},
      {"x ^ 2", Step::Square},
      {nullptr, Step::Square, 2},
      {nullptr, Step::Load, 1},
      {nullptr, Step::CallTwo, 0.5},
      {"sqrt(x)", Step::Sqrt},
      {"abs(x)", Step::Abs},
      {"-(x + y)", Step::Negate},
      {"sin(x)", Step::CallUnary},
      {"twice(x)", Step::CallUnary},
      {"sum(x, y)", Step::Sum},
      {"avg(x, y)", Step::Avg},
      {"min(x, y)", Step::Min},
      {"max(y, x)", Step::Max},
      {"where(x, y, -y)", Step::Where},
      {"atan2(x, y)", Step::CallTwo},
      {"round(x)", Step::CallUnary},
      {"spread(x, y)", Step::CallList},
      {"shifted(x)", Step::CallContext},
      {"shiftedends(x, y)", Step::CallList},
  };
  for (const Case& c : cases) {
    const Program program = c.Formula ? ProgramOf(c.Formula) : PowerFromCells(c.Exponent);
    const std::string name = c.Formula ? c.Formula : "x^" + std::to_string(c.Exponent) + " from cells";
    ASSERT_FALSE(program.Instructions.empty()) << name;
    const auto lowered = Lower(program.Instructions.back(), false);
    EXPECT_EQ(lowered.Is, c.Lowered) << name;
    const std::vector<double> expected = Interpreted(program);
    const std::unique_ptr<MachineCode> code = MachineCode::Generate(program);
    ASSERT_TRUE(code) << name;
    ExpectSameBits(expected, OnePoint(*code), name + " one point");
    if (sizeof(void*) == 8) {
      EXPECT_EQ(code->Frame().empty(), !lowered.Calls()) << name;
    }
    // A callback of the user's, or a list function called, runs one point
    // at a time: its calls keep the order of the points.
    const bool pointByPoint = lowered.CallsUser || lowered.Is == Step::CallList;
    for (int lanes = 1; lanes <= MachineCode::WidestLanes(); lanes *= 2) {
      const std::unique_ptr<ArrayCode> loop = ArrayCode::Generate(program, lanes);
      ASSERT_TRUE(loop) << name;
      EXPECT_EQ(loop->Lanes(), pointByPoint ? 1 : lanes) << name;
      ExpectSameBits(expected, OverArrays(*loop), name + " in " + std::to_string(lanes) + " lanes");
    }
  }
}

}  // namespace
}  // namespace ParserTests
