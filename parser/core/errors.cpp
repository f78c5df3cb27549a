#include "parser/core/errors.h"

namespace MathUtils::detail {

void ThrowParserException(const std::string& text, const std::string& formula) {
  throw ParserException(text, formula);
}

void RaiseArgumentError(std::string_view message) {
  ThrowParserException(std::string(message), NoFormulaText);
}

void RaiseFormulaError(std::string_view message, std::string_view formula, int position) {
  std::string text(message);
  if (position >= 0 && !formula.empty()) {
    text += ' ';
    if (position == 0) {
      text += formula;
    } else {
      text.append(formula.substr(0, static_cast<std::size_t>(position)));
      text += " <- here";
    }
  }
  ThrowParserException(text, std::string(formula));
}

}  // namespace MathUtils::detail
