#include "parser/errors.h"

namespace MathUtils::detail {

void ThrowParserException(const std::string& text, const std::string& formula) {
  throw ParserException(text, formula);
}

void RaiseArgumentError(std::string_view message) {
  ThrowParserException(std::string(message), NoFormulaText);
}

}  // namespace MathUtils::detail
