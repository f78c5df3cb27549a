// The binary operators, as the command table lists them: each gives the
// same bits on every path that computes it.
#include <bit>
#include <cmath>
#include <limits>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Probe;

bool SameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Folded while compiling, computed while compiling, run by the derived
// program (with the right operand in a variable and as a number, which
// makes "^ 2" a square), and run by the cell interpreter.
TEST(BinaryOperators, EveryPathComputesTheSame) {
  constexpr double Infinity = std::numeric_limits<double>::infinity();
  const double operands[] = {0.0, -0.0, 1.0, -2.5, 2.0, 3.0, 1e308, Infinity, -Infinity, std::nan("")};
  double a = 0, b = 0;
  for (std::size_t code = 0; code < BinaryOperatorCount; ++code) {
    const std::string op = " " + std::string(Commands[code].Text) + " ";
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
      }
    }
  }
}

}  // namespace
