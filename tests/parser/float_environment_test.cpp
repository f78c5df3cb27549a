// Every tier computes the same bits as the first evaluation, whatever the
// floating-point environment of the calling thread: denormals read as zero
// (DAZ), results flushed to zero (FTZ), each rounding mode, and of two NaN
// operands the same one comes out. A program built with -ffast-math sets
// DAZ and FTZ for the whole process, and a CAD host may too.
#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "parser/parser.h"
#include "parser/x86/machine_code.h"
#include "parser_test_support.h"

namespace ParserTests {
namespace {

double X = 0, Y = 0;

std::string Bits(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g (%016llx)", v,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)));
  return text;
}

double FromBits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

bool Generates() { return MathUtils::detail::MachineCode::Supported(); }

void Define(MathUtils::Parser& parser, bool machineCode) {
  parser.SetMachineCode(machineCode);
  parser.AddVariable("x", &X);
  parser.AddVariable("y", &Y);
}

struct Point {
  double X, Y;
};

// The value of each tier at each point: the first evaluation (compiling),
// a later one interpreted, and a later one as machine code.
struct TierValues {
  std::vector<double> First, Interpreted, Machine;
  bool MachineCodeRan = false;
};

TierValues EvaluateEveryTier(const std::string& formula, const std::vector<Point>& points) {
  TierValues values;
  MathUtils::Parser interpreted;
  Define(interpreted, false);
  interpreted.AssignFormula(formula);
  MathUtils::Parser machine;
  Define(machine, true);
  machine.AssignFormula(formula);
  X = points[0].X, Y = points[0].Y;
  for (int run = 0; run < 5000 && machine.MachineCodeSize() == 0; ++run) machine.Evaluate();
  values.MachineCodeRan = machine.MachineCodeSize() > 0;

  for (const Point& p : points) {
    X = p.X, Y = p.Y;
    MathUtils::Parser first;
    Define(first, false);
    first.AssignFormula(formula);
    values.First.push_back(first.Evaluate());
    interpreted.Evaluate();  // the first later evaluation may still derive the program
    values.Interpreted.push_back(interpreted.Evaluate());
    values.Machine.push_back(machine.Evaluate());
  }
  return values;
}

::testing::AssertionResult TiersAgree(const std::string& formula, const std::vector<Point>& points,
                                      const Mode& mode) {
  TierValues values;
  {
    InMode in(mode);
    values = EvaluateEveryTier(formula, points);
  }
  if (Generates() && !values.MachineCodeRan)
    return ::testing::AssertionFailure() << formula << ": no machine code was made";
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto same = [](double a, double b) {
      return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    };
    if (!same(values.First[i], values.Interpreted[i]) || !same(values.First[i], values.Machine[i]))
      return ::testing::AssertionFailure()
             << formula << " in mode " << mode.Name << " at x=" << Bits(points[i].X)
             << " y=" << Bits(points[i].Y) << ": first " << Bits(values.First[i]) << ", interpreted "
             << Bits(values.Interpreted[i]) << ", machine code " << Bits(values.Machine[i]);
  }
  return ::testing::AssertionSuccess();
}

const double Denormal = std::numeric_limits<double>::denorm_min();
const double Inf = std::numeric_limits<double>::infinity();
const double NaN1 = FromBits(0x7ff8000000000001), NaN2 = FromBits(0xfff8000000000002);

std::vector<Point> Grid() {
  const double values[] = {Denormal, -Denormal, 3e-310, -2.5e-309, 0.0, -0.0, 1,
                           -1,       1.0 / 3,   1e308,  -1e308,    Inf, NaN1, NaN2};
  std::vector<Point> points;
  for (double x : values)
    for (double y : values) points.push_back({x, y});
  return points;
}

const char* const Formulas[] = {
    // min and max with a constant: the cases that once used minsd/maxsd
    "min(x, 1)", "max(x, -1)", "min(1, x)", "max(-1, x)", "min(x, 0.5, y)", "max(2, x, y)", "min(x, y)",
    "max(x, y)", "min(x, -x)", "max(y, x, 0)",
    // arithmetic, exact divisions by powers of two, squares
    "x + y", "y + x", "x - y", "x * y", "y * x", "x / y", "x / 2", "x / 0.25", "x * 3 + y", "x ^ 2",
    "(x + y) * (x - y) / 3", "x * 1e-300 * y",
    // the inline built-ins and the sums
    "sqrt(x)", "abs(y)", "-x", "sum(x, y)", "sum(x, y, 1)", "avg(x, y)", "avg(x, y, 3)",
    // comparisons and logic
    "x < y", "x <= y", "x == y", "x != y", "x > y", "x >= y", "x and y", "x or y",
    // the C library
    "sin(x)", "exp(y)", "x ^ y", "log(x) + y"};

TEST(FloatEnvironmentTest, EveryTierGivesTheFirstEvaluationsBitsInEveryMode) {
  const std::vector<Point> points = Grid();
  for (const Mode& mode : Modes)
    for (const char* formula : Formulas) EXPECT_TRUE(TiersAgree(formula, points, mode));
}

// Of two NaNs, + and * give the left one, as the written formula orders
// them; the tiers above must all agree on it.
TEST(FloatEnvironmentTest, TheLeftNanComesOutOfSumsAndProducts) {
  struct Row {
    const char* Formula;
    double Expected;
  };
  const Row rows[] = {{"x + y", NaN1}, {"y + x", NaN2},     {"x * y", NaN1},
                      {"y * x", NaN2}, {"sum(x, y)", NaN1}, {"sum(y, x)", NaN2}};
  for (const Row& row : rows) {
    const TierValues values = EvaluateEveryTier(row.Formula, {{NaN1, NaN2}});
    for (double value : {values.First[0], values.Interpreted[0], values.Machine[0]})
      EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(row.Expected))
          << row.Formula << " gave " << Bits(value);
  }
}

}  // namespace
}  // namespace ParserTests
