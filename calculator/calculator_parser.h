// A parser for one command line: the default vocabulary with the
// calculator's in one unit system, constants folded.
#pragma once

#include "parser/parser_base.h"

// Holds the same names as a MathUtils::Parser given AddCalculatorVocabulary
// in that unit system, but reads them where CalculatorVocabulary keeps them
// until it defines a name of its own: a parser made for each press of Enter
// then copies no registry and defines no name.
class CalculatorParser : public MathUtils::ParserBase {
 public:
  // An ON::unit_system value, as AddCalculatorVocabulary takes it.
  explicit CalculatorParser(int unitSystem);
};
