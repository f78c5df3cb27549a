// A program of another project that uses the parser library.
#include "parser/parser.h"

int main() {
  MathUtils::Parser parser;
  parser.AssignFormula("1+2*3");
  return parser.Evaluate() == 7 ? 0 : 1;
}
