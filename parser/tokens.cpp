#include "parser/tokens.h"

namespace MathUtils {

namespace {

[[noreturn]] void RaiseOutsideFormula(std::string_view message) {
  detail::ThrowParserException(std::string(message), NoFormulaText);
}

}  // namespace

void detail::RaiseStackIsEmpty() { RaiseOutsideFormula(Messages::StackIsEmpty); }

double Token::GetVal() const {
  switch (Code) {
    case cdVariable: return *static_cast<const double*>(Addr);
    case cdValue: return Val;
    default: RaiseOutsideFormula(Messages::ValueOfNonValue);
  }
}

void* Token::GetFuncAddr() const {
  switch (Code) {
    case cdFunction:
    case cdPostfixOp:
    case cdPrefixOp: return Addr;
    default: RaiseOutsideFormula(Messages::CallbackOfNonCall);
  }
}

std::int32_t Token::GetArgCount() const {
  if (Code != cdFunction) RaiseOutsideFormula(Messages::ArgCountOfNonFunction);
  return ArgCount;
}

}  // namespace MathUtils
