// A program of another project that uses the parser library through its
// public headers: evaluation and errors, with the opt-in reader header the
// reader driven by hand, and the calculator's command line in a unit system
// of its choosing, and a formula over arrays.
#include <cstddef>
#include <string_view>
#include <vector>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"
#include "parser/reader.h"

namespace {

// The reader's tokens and flags for "-sin(30)", one token at a time.
bool ReadsTokenByToken() {
  MathUtils::Parser parser;
  parser.AssignFormula("-sin(30)");
  MathUtils::SyntaxFlags flags = MathUtils::FlagsAtStart;
  const MathUtils::CmdCode expected[] = {MathUtils::cdPrefixOp,     MathUtils::cdFunction,
                                         MathUtils::cdOpenBracket,  MathUtils::cdValue,
                                         MathUtils::cdCloseBracket, MathUtils::cdEnd};
  for (MathUtils::CmdCode code : expected)
    if (parser.ScanToken(flags).Code != code) return false;
  return flags == 0 && parser.Priority(MathUtils::cdPow) == 5;
}

}  // namespace

// The plug-in's evaluation of "2*sin(30)+5mm" in a metres document and in a
// millimetres one, and the vocabulary on a parser of the program's own.
bool CalculatesInUnitSystems() {
  if (EvaluateCommandLine("2*sin(30)+5mm", 4) != "1.005" || CommandLineValue("2*sin(30)+5mm", 2) != 6)
    return false;
  MathUtils::Parser parser;
  double x = 2;
  PrepareCommandLine(parser, "(x)in", 4);
  parser.AddVariable("x", &x);
  return parser.Evaluate() == 2 * 0.0254;
}

// A formula over arrays of 3,000 points: machine code where the
// installed library makes it, the same values either way.
bool EvaluatesOverArrays() {
  double x = 0, y = 4;
  MathUtils::Parser parser;
  parser.AddVariable("x", &x);
  parser.AddVariable("y", &y);
  parser.AssignFormula("sqrt(x^2 + y^2)");
  std::vector<double> xs(3000, 3.0), results(3000);
  xs[2999] = 0;
  const MathUtils::VariableArray arrays[] = {{&x, xs.data()}};
  std::size_t written = 0;
  parser.EvaluateArrays(arrays, results, &written);
  return written == 3000 && results[0] == 5 && results[2999] == 4 && x == 0;
}

int main() {
  if (!CalculatesInUnitSystems()) return 5;
  if (!EvaluatesOverArrays()) return 6;
  MathUtils::Parser parser;
  parser.AssignFormula("1+2*3");
  if (parser.Evaluate() != 7 || parser.Listing() != "1 VALUE 7\nEND") return 1;
  if (!ReadsTokenByToken()) return 4;
  try {
    parser.AssignFormula("sin(30");
    parser.Evaluate();
  } catch (const MathUtils::ParserException& error) {
    return std::string_view(error.what()) == MathUtils::Messages::MissingClosingBracket ? 0 : 2;
  }
  return 3;
}
