// The concrete parser: ParserBase plus the default vocabulary.
#pragma once

#include "parser/parser_base.h"

namespace MathUtils {

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
