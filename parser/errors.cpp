#include "parser/errors.h"

namespace MathUtils::detail {

void ThrowParserException(const std::string& text, const std::string& formula) {
  throw ParserException(text, formula);
}

}  // namespace MathUtils::detail
