// Prints what the C++ library computes, for the Python module's tests to
// compare with bit for bit. Each line of standard input is
//   UNITS<TAB>FORMULA<TAB>X
// (X as strtod reads it).
// UNITS "-" evaluates FORMULA with the parser's default vocabulary, its math
// functions (as the Python module's Formula has them) and the variable x; a
// unit system's number evaluates it as a command line
// (x unused). Each output line is the value's bits as 16 hexadecimal
// digits, or "error: TEXT".
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"

namespace {

double Evaluate(const std::string& units, const std::string& formula, double x) {
  if (units != "-") return CommandLineValue(formula, std::stoi(units));
  MathUtils::Parser parser;
  parser.AddMathFunctions();
  parser.AddVariable("x", &x);
  parser.AssignFormula(formula);
  return parser.Evaluate();
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string units, formula, x;
    std::getline(fields, units, '\t');
    std::getline(fields, formula, '\t');
    std::getline(fields, x);
    try {
      const auto bits =
          std::bit_cast<std::uint64_t>(Evaluate(units, formula, std::strtod(x.c_str(), nullptr)));
      std::printf("%016llx\n", static_cast<unsigned long long>(bits));
    } catch (const MathUtils::ParserException& error) {
      std::printf("error: %s\n", error.what());
    }
  }
  return 0;
}
