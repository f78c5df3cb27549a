#include <cmath>

#include "parser/parser_base.h"

namespace MathUtils {

double ParserBase::ReturnConstant() { return ReadDouble(&Bytecode[2]); }

// The interpreter: one pass over the cells with a fixed stack and no
// allocation. The compiler guarantees slots 1 to 299 and well-formed entries.
double ParserBase::ParseCmdCode() {
  double stack[EvaluationStackSize];
  const Cell* cell = Bytecode.data();
  for (;;) {
    const Cell slot = cell[0];
    double* const s = &stack[slot];
    switch (cell[1]) {
      case cdLessEq: *s = s[0] <= s[1]; cell += BinaryEntryCells; break;
      case cdGreaterEq: *s = s[0] >= s[1]; cell += BinaryEntryCells; break;
      case cdNotEqual: *s = s[0] != s[1]; cell += BinaryEntryCells; break;
      case cdEqual: *s = s[0] == s[1]; cell += BinaryEntryCells; break;
      case cdLess: *s = s[0] < s[1]; cell += BinaryEntryCells; break;
      case cdGreater: *s = s[0] > s[1]; cell += BinaryEntryCells; break;
      case cdAdd: *s = s[0] + s[1]; cell += BinaryEntryCells; break;
      case cdSub: *s = s[0] - s[1]; cell += BinaryEntryCells; break;
      case cdMul: *s = s[0] * s[1]; cell += BinaryEntryCells; break;
      case cdDiv: *s = s[0] / s[1]; cell += BinaryEntryCells; break;
      case cdPow: *s = std::pow(s[0], s[1]); cell += BinaryEntryCells; break;
      case cdAnd: *s = s[0] != 0 && s[1] != 0; cell += BinaryEntryCells; break;
      case cdOr: *s = s[0] != 0 || s[1] != 0; cell += BinaryEntryCells; break;
      case cdVariable:
        *s = *static_cast<const double*>(ReadAddress(cell + 2));
        cell += VariableEntryCells;
        break;
      case cdValue:
        *s = ReadDouble(cell + 2);
        cell += ValueEntryCells;
        break;
      case cdFunction: {
        const Cell argCount = cell[2];
        void* callback = ReadAddress(cell + 3);
        if (argCount == 1) {
          *s = reinterpret_cast<UnaryCallback>(callback)(*s);
        } else if (argCount <= 0) {
          *s = reinterpret_cast<ListCallback>(callback)(std::span<const double>(s, static_cast<std::size_t>(-argCount)));
        } else {
          // Only one-argument and variadic functions can be defined.
          RaiseError("internal error:  Unsupported number of arguments in function call.", -1);
        }
        cell += FunctionEntryCells;
        break;
      }
      case cdPostfixOp:
        *s = reinterpret_cast<UnaryCallback>(ReadAddress(cell + 2))(*s);
        cell += CallEntryCells;
        break;
      case cdEnd:
        return stack[1];
      default:
        RaiseError("internal error in ParserBase::ParseCmdCode(...) :  unexpected or unknown CmdCode", -1);
    }
  }
}

}  // namespace MathUtils
