#include "parser/front/tokens.h"

namespace MathUtils {

namespace {

[[noreturn]] void RaiseOutsideFormula(std::string_view message) {
  detail::ThrowParserException(std::string(message), NoFormulaText);
}

}  // namespace

void detail::RaiseStackIsEmpty() { RaiseOutsideFormula(Messages::StackIsEmpty); }

void detail::RaiseValueOfNonValue() { RaiseOutsideFormula(Messages::ValueOfNonValue); }

void detail::RaiseCallbackOfNonCall() { RaiseOutsideFormula(Messages::CallbackOfNonCall); }

void detail::RaiseArgCountOfNonFunction() { RaiseOutsideFormula(Messages::ArgCountOfNonFunction); }

}  // namespace MathUtils
