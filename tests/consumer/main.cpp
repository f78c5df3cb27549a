// A program of another project that uses the parser library through its
// one public header.
#include <string_view>

#include "parser/parser.h"

int main() {
  MathUtils::Parser parser;
  parser.AssignFormula("1+2*3");
  if (parser.Evaluate() != 7 || parser.Listing() != "1 VALUE 7\nEND") return 1;
  try {
    parser.AssignFormula("sin(30");
    parser.Evaluate();
  } catch (const MathUtils::ParserException& error) {
    return std::string_view(error.what()) == MathUtils::Messages::MissingClosingBracket ? 0 : 2;
  }
  return 3;
}
