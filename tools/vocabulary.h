// The calculator's vocabulary by kind, read from a parser that holds it, so
// that completion, help and the check of variable names cannot drift from
// what a formula accepts.
#pragma once

#include <string>
#include <vector>

struct Vocabulary {
  // Each list sorted.
  std::vector<std::string> Functions;
  std::vector<std::string> Constants;
  std::vector<std::string> PostfixOperators;  // the unit suffixes and scale factors
  std::vector<std::string> PrefixOperators;
  // The binary operators' texts, one group per priority, lowest first; in
  // a group in the order of the parser's command table.
  std::vector<std::vector<std::string>> BinaryOperators;
};

// The default vocabulary with the calculator's own added, read once.
const Vocabulary& CalculatorVocabulary();
