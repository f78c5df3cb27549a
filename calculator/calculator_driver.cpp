#include "calculator/calculator_driver.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <system_error>

#include "calculator/calculator_parser.h"
#include "calculator/unit_operators.h"
#include "parser/parser.h"

std::string LowerCaseAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// Most lines are typed in lower case: those reach the parser uncopied.
void AssignCommandLine(MathUtils::ParserBase& parser, std::string_view text) {
  if (std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
    parser.AssignFormula(LowerCaseAscii(text));
  else
    parser.AssignFormula(text);
}

void PrepareCommandLine(MathUtils::Parser& parser, std::string_view text, int unitSystem) {
  AssignCommandLine(parser, text);
  AddCalculatorVocabulary(parser, unitSystem);
  parser.SetOptimizer(true);
}

double CommandLineValue(std::string_view text, int unitSystem) {
  CalculatorParser parser(unitSystem);
  AssignCommandLine(parser, text);
  return parser.Evaluate();
}

std::string FormatValue(double value, int significantDigits) {
  char buffer[32];  // the longest, "-1.2345678901234567e-308", takes 24
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, significantDigits);
  if (error != std::errc{}) throw std::length_error("printed value exceeds its buffer");
  return std::string(buffer, end);
}

std::string EvaluateCommandLine(std::string_view text, int unitSystem) {
  const double value = CommandLineValue(text, unitSystem);
  return FormatValue(value, DigitsKeepingTypedPlaces(value, text, unitSystem));
}
