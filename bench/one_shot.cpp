#include "bench/one_shot.h"

#include <cmath>
#include <fparser.hh>
#include <numbers>
#include <stdexcept>
#include <string>

#include "parser/parser.h"

namespace Bench {

const std::array<OneShotFormula, OneShotCount>& OneShotFormulas() {
  static const std::array<OneShotFormula, OneShotCount> Formulas = {{
      {"2*sin(30)+5", "2*sin(30)+5", 2 * std::sin(30 * (std::numbers::pi / 180)) + 5},
      {"1/3", "1/3", 1.0 / 3},
      {"sum(1,2,3)*2^0.5", "(1+2+3)*2^0.5", (1.0 + 2 + 3) * std::pow(2, 0.5)},
  }};
  return Formulas;
}

double OurOneShot(const char* text) {
  MathUtils::Parser parser;
  parser.AssignFormula(text);
  return parser.Evaluate();
}

double PeerOneShot(const char* text) {
  FunctionParser parser;
  if (parser.Parse(text, "", true) >= 0)
    throw std::runtime_error(std::string("fparser cannot parse \"") + text + "\": " + parser.ErrorMsg());
  const double noVariables = 0;
  return parser.Eval(&noVariables);
}

}  // namespace Bench
