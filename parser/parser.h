// The formula parser of vorncalc: include this header and link `mathutils`.
//
//   MathUtils::Parser parser;          // default vocabulary installed
//   parser.AssignFormula("2*sin(30)");
//   double value = parser.Evaluate();  // compiles once, then runs bytecode
//
// Every failure is thrown as MathUtils::ParserException; its text begins
// with one of the messages named in MathUtils::Messages. The reader driven
// step by step (tokens, syntax flags, command codes, the cell layout) is in
// parser/reader.h.
#pragma once

#include "parser/core/errors.h"
#include "parser/parser_base.h"

namespace MathUtils {

// ParserBase with the default vocabulary: the functions sin to max, the
// constants _pi and _e, the postfix operators m, n and mc, the prefix "-".
class Parser : public ParserBase {
 public:
  // Installs the default functions, constants and operators.
  Parser();
  ~Parser() override;

  void InitFunctions() override;
  void InitConstants() override;
  void InitOperators() override;
};

}  // namespace MathUtils
