// The binary operators, as the command table and the backend's operation
// rows list them: each gives the same bits on every path that computes it.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "array_tiers.h"
#include "parser/x86/machine_code.h"
#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Probe;

bool SameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

struct TierProbe : Probe {
  using ParserBase::ArrayCodeLanes;
  using ParserBase::SetArrayLanes;
  using ParserBase::SetMachineCodeAfter;
  TierProbe(double* a, double* b) {
    AddVariable("a", a);
    AddVariable("b", b);
    SetMachineCodeAfter(0);
  }
};

// The formula's one-point machine code, and every way over arrays (the
// block interpreter, the machine code in lanes of every width the
// processor has), at each pair of operands.
void ExpectMachineCodeGives(const std::string& formula, const std::vector<double>& lefts,
                            const std::vector<double>& rights, const std::vector<double>& expected) {
  using MathUtils::detail::MachineCode;
  if (!MachineCode::Supported()) return;
  double a = 0, b = 0;
  TierProbe onePoint(&a, &b);
  onePoint.SetMachineCode(true);  // also where the environment turns it off
  ParserTests::Eval(onePoint, formula);
  onePoint.Evaluate();
  ASSERT_GT(onePoint.MachineCodeSize(), 0u) << formula;
  for (std::size_t i = 0; i < lefts.size(); ++i) {
    a = lefts[i], b = rights[i];
    EXPECT_TRUE(SameBits(onePoint.Evaluate(), expected[i])) << formula << " one point at " << i;
  }
  for (const ParserTests::Tier& tier : ParserTests::Tiers) {
    TierProbe parser(&a, &b);
    parser.SetMachineCode(tier.MachineCode);
    parser.SetArrayLanes(tier.Lanes);
    parser.AssignFormula(formula);
    const VariableArray arrays[] = {{&a, lefts.data()}, {&b, rights.data()}};
    std::vector<double> results(lefts.size());
    parser.EvaluateArrays(arrays, results);
    parser.EvaluateArrays(arrays, results);
    if (tier.MachineCode) {
      EXPECT_EQ(parser.ArrayCodeLanes(), std::min(tier.Lanes, MachineCode::WidestLanes())) << formula;
    }
    for (std::size_t i = 0; i < results.size(); ++i)
      if (!SameBits(results[i], expected[i])) {
        ADD_FAILURE() << formula << " " << tier.Name << " at " << lefts[i] << ", " << rights[i];
        break;
      }
  }
}

// Folded while compiling, computed while compiling, run by the derived
// program (with the right operand in a variable and as a number, which
// makes "^ 2" a square), and run by the cell interpreter; then as machine
// code for one point and over arrays in every tier and width, with the
// right operand in a variable. Every row of the table takes every path, so
// that a row missing any of its columns fails here.
TEST(BinaryOperators, EveryPathComputesTheSame) {
  constexpr double Infinity = std::numeric_limits<double>::infinity();
  const double operands[] = {0.0, -0.0, 1.0, -2.5, 2.0, 3.0, 1e308, Infinity, -Infinity, std::nan("")};
  double a = 0, b = 0;
  for (const Command& row : BinaryCommands) {
    const std::string op = " " + std::string(row.Text) + " ";
    std::vector<double> lefts, rights, expected;
    for (double left : operands) {
      for (double right : operands) {
        SCOPED_TRACE(std::to_string(left) + op + std::to_string(right));
        Probe parser;
        parser.AddVariable("a", &a);
        parser.AddVariable("b", &b);
        parser.AddConstant("ka", left);
        parser.AddConstant("kb", right);
        a = left, b = right;
        const double folded = ParserTests::Eval(parser, "ka" + op + "kb");
        for (const std::string& formula : {"a" + op + "b", "a" + op + "kb"}) {
          EXPECT_TRUE(SameBits(ParserTests::Eval(parser, formula), folded)) << formula << " compiled";
          EXPECT_TRUE(SameBits(parser.Evaluate(), folded)) << formula << " program";
          EXPECT_TRUE(SameBits(parser.RunCells(), folded)) << formula << " cells";
        }
        // Enough points that the lanes of every width run whole groups.
        for (int copy = 0; copy < 24; ++copy) {
          lefts.push_back(left);
          rights.push_back(right);
          expected.push_back(folded);
        }
      }
    }
    ExpectMachineCodeGives("a" + op + "b", lefts, rights, expected);
  }
}

}  // namespace
