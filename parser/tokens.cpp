#include "parser/tokens.h"

namespace MathUtils {

double Token::GetVal() const {
  switch (Code) {
    case cdVariable: return *static_cast<const double*>(Addr);
    case cdValue: return Val;
    default: throw ParserException("internal error:  GetVal() called for non value token.", NoFormulaText);
  }
}

void* Token::GetFuncAddr() const {
  switch (Code) {
    case cdFunction:
    case cdPostfixOp:
    case cdPrefixOp: return Addr;
    default:
      throw ParserException("internal error:  GetFuncAddr() called non function/postfix operator token.",
                            NoFormulaText);
  }
}

std::int32_t Token::GetArgCount() const {
  if (Code != cdFunction)
    throw ParserException("internal error:  Token::GetArgCount() called for non function token.", NoFormulaText);
  return ArgCount;
}

}  // namespace MathUtils
