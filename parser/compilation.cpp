#include "parser/compilation.h"

#include <array>
#include <span>
#include <vector>

#include "parser/commands.h"

namespace MathUtils::detail {

namespace {

// The evaluation stack's highest slot; a formula that needs more is refused.
constexpr int HighestStackSlot = EvaluationStackSize - 1;

// The command table's priorities, packed for the unwinding.
constexpr std::array<std::int32_t, CommandCount> Priorities = [] {
  std::array<std::int32_t, CommandCount> priorities{};
  for (std::size_t i = 0; i < CommandCount; ++i) priorities[i] = Commands[i].Priority;
  return priorities;
}();

double CallUnary(const Token& op, double argument) {
  void* callback = op.GetFuncAddr();
  if (op.WithContext) return reinterpret_cast<UnaryContextCallback>(callback)(op.Context, argument);
  return reinterpret_cast<UnaryCallback>(callback)(argument);
}

// Calls the function's callback in the form that the declared count gives:
// 1 for one argument, else a list (of any length for -1).
double Call(const Token& function, std::int32_t declared, std::span<const Token> arguments) {
  void* callback = function.GetFuncAddr();
  if (declared != 1) {
    Scratch<double> values(arguments.size());  // short lists stay on the machine stack
    for (std::size_t i = 0; i < arguments.size(); ++i) values[i] = arguments[i].GetVal();
    const std::span<const double> list(values.Data(), arguments.size());
    if (function.WithContext) return reinterpret_cast<ListContextCallback>(callback)(function.Context, list);
    return reinterpret_cast<ListCallback>(callback)(list);
  }
  return CallUnary(function, arguments[0].GetVal());
}

Token ValueToken(double value, bool isVolatile) {
  Token token;
  token.SetVal(value);
  token.IsVolatile = isVolatile ? 1 : 0;
  return token;
}

}  // namespace

Token Compilation::ApplyOperator(const Token& left, std::int32_t code, const Token& right) {
  const double leftValue = left.GetVal();
  const double rightValue = right.GetVal();
  if (!IsBinaryOperator(code)) Fail(Messages::UnexpectedOperatorToken, -1);
  const double result = ComputeBinary(code, leftValue, rightValue, Raise);

  const bool operandsVolatile = left.Volatile() || right.Volatile();
  if (!FoldingOn || operandsVolatile) {
    Writer.Binary(--StackPos, code);
    Token token = ValueToken(result, FoldingOn);
    if (FoldingOn) token.Prio = Commands[code].Priority;  // a binary operator has one
    return token;
  }
  Fold(2, --StackPos, result, Messages::NegativeIndex);
  return ValueToken(result, false);
}

// Shared by prefix and postfix operators: both are one-argument calls.
Token Compilation::UnaryResult(const Token& op, const Token& operand) {
  const double result = CallUnary(op, operand.GetVal());
  if (!FoldingOn || operand.Volatile()) {
    if (op.WithContext)
      Writer.ContextOp(StackPos, op.Addr, op.Context);
    else
      Writer.Addressed(StackPos, cdPostfixOp, op.Addr);
    return ValueToken(result, true);
  }
  Fold(1, StackPos, result, Messages::NegativeIndexAfterPrefix);
  return ValueToken(result, false);
}

void Compilation::ApplyUnaryOprt() {
  if (!Waits(cdPrefixOp)) return;
  if (Values.empty()) Fail(Messages::PrefixWithoutOperand, -1);
  const Token op = Operators.pop();
  const Token operand = Values.pop();
  Values.push(UnaryResult(op, operand));
}

Token Compilation::ApplyPostfix(const Token& op, const Token& operand) { return UnaryResult(op, operand); }

void Compilation::CallFunction(int argCount) {
  if (!Waits(cdFunction)) return;
  const Token function = Operators.pop();
  const std::int32_t declared = function.GetArgCount();
  if (declared != -1 && argCount > declared) Fail(Messages::TooManyArguments, Here());
  if (argCount < declared) Fail(Messages::TooFewArguments, Here());
  if (Values.size() < static_cast<std::size_t>(argCount)) Values.pop();  // raises "stack is empty."

  // The arguments are the top argCount values, first argument lowest.
  const std::span<const Token> arguments = Values.items().last(static_cast<std::size_t>(argCount));
  bool isVolatile = function.Volatile();
  for (const Token& argument : arguments) isVolatile = isVolatile || argument.Volatile();
  // A fixed count above 1 is a list callback's (the built-in math functions
  // of two and three arguments); no definition makes any other count.
  if (declared != -1 && (declared < 1 || declared > MaxFixedArguments))
    Fail(Messages::UnsupportedArgumentCount, -1);
  const double result = Call(function, declared, arguments);
  Values.Drop(static_cast<std::size_t>(argCount));

  Values.push(ValueToken(result, isVolatile));
  StackPos += 1 - argCount;
  // The entry's count says the callback's form: n for one argument, -n for
  // a list of n.
  const Cell written = declared == 1 ? argCount : -argCount;
  if (FoldingOn && !isVolatile)
    Fold(argCount, StackPos, result, Messages::NegativeIndex);
  else if (function.WithContext)
    Writer.ContextFunction(StackPos, written, function.Addr, function.Context);
  else
    Writer.Function(StackPos, written, function.Addr);
}

// Folding: the value entries of the operands, the last ones written, make
// way for one value entry of the result.
void Compilation::Fold(int operands, int slot, double value, std::string_view negativeIndex) {
  Writer.Index -= ValueEntryCells * operands;
  if (Writer.Index < 0) Fail(negativeIndex, -1);
  Writer.Value(slot, value);
}

// Returns false after the end of the formula.
bool Compilation::Take(const Token& current) {
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
      if (current.Code > cdEnd) Fail(Messages::UnsupportedToken, -1);
      return Delimit(current);  // a binary operator or the end
  }
}

// "(" opens a group, and the argument list of a function before it.
void Compilation::OpenBracket(const Token& bracket) {
  ++BracketDepth;
  ArgCounts.push(1);
  Operators.push(bracket);
}

bool Compilation::CloseBracket(const Token& bracket) {
  if (--BracketDepth < 0) Fail(Messages::NoOpeningBracket, Here());
  return Delimit(bracket);
}

bool Compilation::Comma(const Token& comma) {
  if (ArgCounts.empty()) Fail(Messages::CommaWithoutFunction, Here());
  ++ArgCounts.top();
  return Delimit(comma);
}

// A number or a variable takes the next slot; a prefix operator waiting
// for it applies at once.
void Compilation::Operand(const Token& operand) {
  if (StackPos >= HighestStackSlot) Fail(Messages::TooComplex, Here());
  Values.push(operand);
  ++StackPos;
  if (operand.Code == cdVariable)
    Writer.Addressed(StackPos, cdVariable, operand.Addr);
  else
    Writer.Value(StackPos, operand.Val);
  if (Waits(cdPrefixOp)) ApplyUnaryOprt();
}

// Whether a function or prefix operator waits on top of the stack. The
// apply steps check it again; checked here first, it saves their call
// for most operands and groups, which have none.
bool Compilation::Waits(CmdCode code) const { return !Operators.empty() && Operators.top().Code == code; }

void Compilation::Postfix(const Token& op) {
  if (Values.empty()) Fail(Messages::PostfixWithoutOperand, -1);
  const Token operand = Values.pop();
  Values.push(ApplyPostfix(op, operand));
}

// ")", ",", a binary operator or the end: the waiting operators that bind
// at least as tightly are applied first. Returns false at the end.
bool Compilation::Delimit(const Token& current) {
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
bool Compilation::Unwind(const Token& current) {
  while (!Operators.empty()) {
    const CmdCode top = Operators.top().Code;
    if (top == cdOpenBracket) return true;
    if (Priority(top) < Priority(current.Code)) return true;
    Operators.pop();
    ApplyBinary(top);
  }
  return false;
}

// The result takes the place of the left operand.
void Compilation::ApplyBinary(CmdCode code) {
  if (Values.size() < 2) Fail(Messages::OperatorWithoutOperands, -1);
  const Token right = Values.pop();
  Values.ReplaceTop(ApplyOperator(Values.top(), code, right));
}

// The ")" of a group: calls the function it belongs to, if any, then a
// prefix operator waiting before it.
void Compilation::CloseGroup() {
  const std::int32_t argCount = ArgCounts.pop();
  if (Waits(cdFunction)) CallFunction(argCount);
  if (Waits(cdPrefixOp)) ApplyUnaryOprt();
}

double Compilation::Finish() {
  Writer.End();
  if (BracketDepth > 0) Fail(Messages::MissingClosingBracket, -1);
  if (Values.empty()) Fail(Messages::NoFormula, -1);
  const Token result = Values.pop();
  if (!Values.empty()) Fail(Messages::MissingOperator, -1);
  return result.GetVal();
}

std::int32_t Compilation::Priority(std::int32_t code) const {
  if (code < 0 || code >= static_cast<std::int32_t>(CommandCount) || Priorities[code] == NoPriority)
    Fail(Messages::PriorityOfNonOperator, -1);
  return Priorities[code];
}

double Compilation::Run() {
  if (Reader.Formula().empty()) Fail(Messages::EmptyFormula, -1);
  SyntaxFlags flags = FlagsAtStart;
  for (bool more = true; more;) more = Take(Reader.Scan(flags));
  return Finish();
}

}  // namespace MathUtils::detail
