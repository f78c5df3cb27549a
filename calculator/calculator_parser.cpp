#include "calculator/calculator_parser.h"

#include "calculator/unit_operators.h"

CalculatorParser::CalculatorParser(int unitSystem) {
  const MathUtils::ParserBase& vocabulary = CalculatorVocabulary(unitSystem);
  AdoptFunctions(vocabulary);
  AdoptConstants(vocabulary);
  AdoptOperators(vocabulary);
  SetOptimizer(true);
}
