// The compiler: one pass over the tokens with an operator stack, writing the
// bytecode as each operation is applied (see the apply steps).
#include <span>
#include <vector>

#include "parser/array_point.h"
#include "parser/bytecode_writer.h"
#include "parser/commands.h"
#include "parser/compilation_scope.h"
#include "parser/compiled_formula.h"
#include "parser/parser_base.h"
#include "parser/parser_parts.h"
#include "parser/stack.h"
#include "parser/token_reader.h"
#include "parser/tokens.h"

namespace MathUtils::detail {

// The evaluation stack's highest slot; a formula that needs more is refused.
constexpr int HighestStackSlot = EvaluationStackSize - 1;

// The working state of one compilation, and one step per kind of token.
// The steps that run for every token are inlined into the one loop of Run:
// a call per token would cost a tenth of a short formula's compilation.
class Compiler {
 public:
  explicit Compiler(ParserBase& parser) : Parser(parser) {}

  // Reads the whole formula; returns its value.
  double Run() {
    SyntaxFlags flags = FlagsAtStart;
    for (bool more = true; more;) more = Take(Parser.ScanToken(flags));
    return Finish();
  }

  int EndOfBytecode() const { return Index; }

 private:
  // Returns false after the end of the formula.
  [[gnu::always_inline]] bool Take(const Token& current) {
    switch (current.Code) {
      case cdOpenBracket: OpenBracket(current); return true;
      case cdCloseBracket: return CloseBracket(current);
      case cdComma: return Comma(current);
      case cdVariable:
      case cdValue: Operand(current); return true;
      case cdFunction:
      case cdPrefixOp: Operators.push(current); return true;
      case cdPostfixOp: Postfix(current); return true;
      default:
        if (current.Code > cdEnd) Parser.RaiseError(Messages::UnsupportedToken, -1);
        return Delimit(current);  // a binary operator or the end
    }
  }

  // "(" opens a group, and the argument list of a function before it.
  void OpenBracket(const Token& bracket) {
    ++BracketDepth;
    ArgCounts.push(1);
    Operators.push(bracket);
  }

  bool CloseBracket(const Token& bracket) {
    if (--BracketDepth < 0) Parser.RaiseError(Messages::NoOpeningBracket, Parser.Pos);
    return Delimit(bracket);
  }

  bool Comma(const Token& comma) {
    if (ArgCounts.empty()) Parser.RaiseError(Messages::CommaWithoutFunction, Parser.Pos);
    ++ArgCounts.top();
    return Delimit(comma);
  }

  // A number or a variable takes the next slot; a prefix operator waiting
  // for it applies at once.
  void Operand(const Token& operand) {
    if (StackPos >= HighestStackSlot) Parser.RaiseError(Messages::TooComplex, Parser.Pos);
    Values.push(operand);
    ++StackPos;
    if (operand.Code == cdVariable)
      Parser.AppendAddressed(Index, StackPos, cdVariable, operand.Addr);
    else
      Parser.AppendValue(Index, StackPos, operand.Val);
    if (Waits(cdPrefixOp)) Parser.ApplyUnaryOprt(Operators, Values, Index, StackPos);
  }

  // Whether a function or prefix operator waits on top of the stack. The
  // apply steps check it again; checked here first, it saves their call
  // for most operands and groups, which have none.
  bool Waits(CmdCode code) const { return !Operators.empty() && Operators.top().Code == code; }

  void Postfix(const Token& op) {
    if (Values.empty()) Parser.RaiseError(Messages::PostfixWithoutOperand, -1);
    const Token operand = Values.pop();
    Values.push(Parser.ApplyPostfix(op, operand, Index, StackPos));
  }

  // ")", ",", a binary operator or the end: the waiting operators that bind
  // at least as tightly are applied first. Returns false at the end.
  [[gnu::always_inline]] bool Delimit(const Token& current) {
    if (Operators.empty() && current.Code != cdEnd) {
      Operators.push(current);
      return true;
    }
    const bool haveTop = Unwind(current);
    if (haveTop && Operators.top().Code == cdOpenBracket && current.Code == cdCloseBracket) {
      Operators.pop();
      CloseGroup();
      return true;
    }
    if (current.Code == cdEnd) return false;
    if (current.Code != cdComma) Operators.push(current);
    return true;
  }

  // Applies the waiting binary operators down to the innermost "(" or to
  // one that binds less tightly than current. Returns whether an operator
  // stopped it; that one stays on the stack.
  [[gnu::always_inline]] bool Unwind(const Token& current) {
    while (!Operators.empty()) {
      const CmdCode top = Operators.top().Code;
      if (top == cdOpenBracket) return true;
      if (Parser.Priority(top) < Parser.Priority(current.Code)) return true;
      Operators.pop();
      ApplyBinary(top);
    }
    return false;
  }

  // The result takes the place of the left operand.
  void ApplyBinary(CmdCode code) {
    if (Values.size() < 2) Parser.RaiseError(Messages::OperatorWithoutOperands, -1);
    const Token right = Values.pop();
    Values.ReplaceTop(Parser.ApplyOperator(Values.top(), code, right, Index, StackPos));
  }

  // The ")" of a group: calls the function it belongs to, if any, then a
  // prefix operator waiting before it.
  void CloseGroup() {
    const std::int32_t argCount = ArgCounts.pop();
    if (Waits(cdFunction)) Parser.CallFunction(argCount, Operators, Values, Index, StackPos);
    if (Waits(cdPrefixOp)) Parser.ApplyUnaryOprt(Operators, Values, Index, StackPos);
  }

  double Finish() {
    Parser.AppendEnd(Index);
    if (BracketDepth > 0) Parser.RaiseError(Messages::MissingClosingBracket, -1);
    if (Values.empty()) Parser.RaiseError(Messages::NoFormula, -1);
    const Token result = Values.pop();
    if (!Values.empty()) Parser.RaiseError(Messages::MissingOperator, -1);
    return result.GetVal();
  }

  ParserBase& Parser;
  Stack<Token> Operators;
  Stack<Token> Values;
  Stack<std::int32_t> ArgCounts;
  int BracketDepth = 0;
  int Index = 0;     // next free bytecode cell
  int StackPos = 0;  // slot of the most recent result
};

}  // namespace MathUtils::detail

namespace MathUtils {

// Compiles into a compiled formula of its own and installs it at the end,
// unless a callback changed the formula or a definition meanwhile: then the
// value is still returned, and the next evaluation compiles again.
double ParserBase::CompileFormula() { return CompileFormula(nullptr, nullptr); }

// The first point of an evaluation over arrays: the listed variables are
// read at the point, their addresses written into the cells all the same.
// Cells that a callback's change keeps from the parser are copied to
// notInstalled as they read the point, for the rest of the points.
double ParserBase::CompileFormula(const detail::ArrayPoint* point, std::vector<Cell>* notInstalled) {
  if (Formula.empty()) RaiseError(Messages::EmptyFormula, -1);
  detail::CompiledFormula* compiled = TakeCompiledFormula();
  const auto variablesOwnAddresses = [point](void* address) {
    const double* variable = point->VariableHeldAt(address);
    return variable ? const_cast<double*>(variable) : address;
  };
  try {
    detail::CompilationScope scope(*this, compiled->Cells, point);
    compiled->Cells.AssignZeros(BytecodeCellsFor(Formula.size()));
    Names().UsedVariables.Clear();
    UsedVariablesSettled = true;

    detail::Compiler compiler(*this);
    const double value = compiler.Run();
    if (point) {
      const std::span<Cell> cells(compiled->Cells.Data(), static_cast<std::size_t>(compiler.EndOfBytecode()));
      if (scope.Changed() && notInstalled) notInstalled->assign(cells.begin(), cells.end());
      detail::MoveVariableAddresses(cells, variablesOwnAddresses);
    }
    if (scope.Changed()) {
      KeepOrRelease(compiled);
      return value;
    }
    const bool oneNumber =
        compiler.EndOfBytecode() == ValueEntryCells + EndEntryCells && compiled->Cells[1] == cdValue;
    if (Current)
      Install(compiled);
    else
      Current = compiled;
    if (oneNumber)
      Enter(detail::Tier::Constant, &ParserBase::EnterConstant);
    else
      Enter(detail::Tier::Derive, &ParserBase::DeriveAndRun);
    return value;
  } catch (...) {
    if (point)
      detail::MoveVariableAddresses(std::span<Cell>(compiled->Cells.Data(), compiled->Cells.Size()),
                                    variablesOwnAddresses);
    KeepOrRelease(compiled);
    throw;
  }
}

// A compilation that installs nothing leaves its cells readable as the
// current ones, unless another compilation installed its own meanwhile.
void ParserBase::KeepOrRelease(detail::CompiledFormula* compiled) {
  if (!Current)
    Current = compiled;
  else
    Release(compiled);
}

}  // namespace MathUtils
