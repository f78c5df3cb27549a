#include "parser/parser_base.h"

namespace MathUtils {

namespace {

// The evaluation stack's highest slot; a formula that needs more is refused.
constexpr int HighestStackSlot = EvaluationStackSize - 1;

// The working state of one compilation.
struct Compilation {
  Stack<Token> Operators;
  Stack<Token> Values;
  Stack<std::int32_t> ArgCounts;
  int BracketDepth = 0;
  int Index = 0;     // next free bytecode cell
  int StackPos = 0;  // slot of the most recent result
};

}  // namespace

void ParserBase::PushOperand(const Token& operand, Stack<Token>& values, int& index, int& stackPos) {
  if (stackPos >= HighestStackSlot)
    RaiseError("Formula too complex: the evaluation stack has room for 299 values:", Pos);
  values.push(operand);
  ++stackPos;
  if (operand.Code == cdVariable)
    AppendAddressed(index, stackPos, cdVariable, operand.Addr);
  else
    AppendValue(index, stackPos, operand.Val);
}

double ParserBase::CompileFormula() {
  if (Formula.empty()) RaiseError("Formula string is empty.", -1);
  Bytecode.assign(BytecodeCellsFor(Formula.size()), 0);
  Pos = 0;
  UsedVariables.Clear();

  Compilation c;
  SyntaxFlags flags = FlagsAtStart;
  for (;;) {
    const Token current = ScanToken(flags);
    if (current.Code > cdEnd) RaiseError("internal error:  unsupported operator/function used", -1);

    switch (current.Code) {
      case cdOpenBracket:
        ++c.BracketDepth;
        c.ArgCounts.push(1);
        c.Operators.push(current);
        continue;
      case cdCloseBracket:
        if (--c.BracketDepth < 0) RaiseError("No opening bracket for the last closing one found: ", Pos);
        break;
      case cdComma:
        if (c.ArgCounts.empty()) RaiseError("Comma used without a function", Pos);
        ++c.ArgCounts.top();
        break;
      case cdVariable:
      case cdValue:
        PushOperand(current, c.Values, c.Index, c.StackPos);
        ApplyUnaryOprt(c.Operators, c.Values, c.Index, c.StackPos);
        continue;
      case cdFunction:
      case cdPrefixOp:
        c.Operators.push(current);
        continue;
      case cdPostfixOp: {
        if (c.Values.empty()) RaiseError("internal error:  stack empty.", -1);
        const Token operand = c.Values.pop();
        c.Values.push(ApplyPostfix(current, operand, c.Index, c.StackPos));
        continue;
      }
      default:  // binary operators and the end
        break;
    }

    // Unwind: apply the waiting operators that bind at least as tightly as
    // the current token, down to the innermost "(".
    const bool hadOperator = !c.Operators.empty();
    if (!hadOperator && current.Code != cdEnd) {
      c.Operators.push(current);
      continue;
    }
    bool haveTop = hadOperator;
    Token top = haveTop ? c.Operators.pop() : Token{};
    while (haveTop && top.Code != cdOpenBracket) {
      if (Priority(top.Code) < Priority(current.Code)) break;
      if (c.Values.size() < 2) RaiseError("internal error: value stack empty!", -1);
      const Token right = c.Values.pop();
      const Token left = c.Values.pop();
      c.Values.push(ApplyOperator(left, top.Code, right, c.Index, c.StackPos));
      haveTop = !c.Operators.empty();
      if (haveTop) top = c.Operators.pop();
    }
    if (haveTop && top.Code == cdOpenBracket && current.Code == cdCloseBracket) {
      // The bracket closes: call the function it belongs to, if any.
      CallFunction(c.ArgCounts.pop(), c.Operators, c.Values, c.Index, c.StackPos);
      ApplyUnaryOprt(c.Operators, c.Values, c.Index, c.StackPos);
      continue;
    }
    if (haveTop) c.Operators.push(top);
    if (current.Code == cdEnd) break;
    if (current.Code != cdComma) c.Operators.push(current);
  }

  AppendEnd(c.Index);
  if (c.BracketDepth > 0) RaiseError("parse error:  missing \")\"", -1);
  if (c.Values.empty()) RaiseError("No formula set.", -1);
  const Token result = c.Values.pop();
  if (!c.Values.empty()) RaiseError("internal error:  missing operator.", -1);
  const double value = result.GetVal();

  const bool singleConstant = c.Index == ValueEntryCells + EndEntryCells && Bytecode[1] == cdValue;
  if (singleConstant)
    EvalEntry = &ParserBase::ReturnConstant;
  else
    EvalEntry = !DeriveProgram() ? &ParserBase::ParseCmdCode
                : ProgramCalls   ? &ParserBase::RunProgram
                                 : &ParserBase::RunArithmetic;
  return value;
}

}  // namespace MathUtils
