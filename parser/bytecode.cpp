#include "parser/bytecode.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <vector>

#include "parser/bytecode_writer.h"
#include "parser/commands.h"
#include "parser/parser_base.h"
#include "parser/stack.h"
#include "parser/tokens.h"

namespace MathUtils {

namespace {

double CallUnary(const Token& op, double argument) {
  void* callback = op.GetFuncAddr();
  if (op.WithContext) return reinterpret_cast<UnaryContextCallback>(callback)(op.Context, argument);
  return reinterpret_cast<UnaryCallback>(callback)(argument);
}

// The argument values of one call at compile time; short lists stay on
// the machine stack.
class ArgumentList {
 public:
  explicit ArgumentList(std::size_t count) : Count(count) {
    if (count > Inline.size()) Heap.resize(count);
  }
  double& operator[](std::size_t i) { return Heap.empty() ? Inline[i] : Heap[i]; }
  std::span<const double> View() const { return {Heap.empty() ? Inline.data() : Heap.data(), Count}; }

 private:
  std::array<double, 16> Inline;
  std::vector<double> Heap;
  std::size_t Count;
};

// Calls the function's callback in the form that the argument count gives:
// -1 for a list of any length, else one argument.
double Call(const Token& function, std::int32_t argCount, std::span<const Token> arguments) {
  void* callback = function.GetFuncAddr();
  if (argCount == -1) {
    ArgumentList list(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) list[i] = arguments[i].GetVal();
    if (function.WithContext)
      return reinterpret_cast<ListContextCallback>(callback)(function.Context, list.View());
    return reinterpret_cast<ListCallback>(callback)(list.View());
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

Token ParserBase::ApplyOperator(const Token& left, std::int32_t code, const Token& right, int& index,
                                int& stackPos) {
  const double leftValue = left.GetVal();
  const double rightValue = right.GetVal();
  if (!IsBinaryOperator(code)) RaiseError(Messages::UnexpectedOperatorToken, -1);
  const double result = ComputeBinary(code, leftValue, rightValue);

  const bool operandsVolatile = left.Volatile() || right.Volatile();
  if (!OptimizerOn || operandsVolatile) {
    AppendBinary(index, --stackPos, code);
    Token token = ValueToken(result, OptimizerOn);
    if (OptimizerOn) token.Prio = Commands[code].Priority;  // a binary operator has one
    return token;
  }
  Fold(index, 2, --stackPos, result, Messages::NegativeIndex);
  return ValueToken(result, false);
}

// Shared by prefix and postfix operators: both are one-argument calls.
Token ParserBase::UnaryResult(const Token& op, const Token& operand, int& index, int stackPos) {
  const double result = CallUnary(op, operand.GetVal());
  if (!OptimizerOn || operand.Volatile()) {
    if (op.WithContext)
      AppendContextOp(index, stackPos, op.Addr, op.Context);
    else
      AppendAddressed(index, stackPos, cdPostfixOp, op.Addr);
    return ValueToken(result, true);
  }
  Fold(index, 1, stackPos, result, Messages::NegativeIndexAfterPrefix);
  return ValueToken(result, false);
}

void ParserBase::ApplyUnaryOprt(Stack<Token>& operators, Stack<Token>& values, int& index, int& stackPos) {
  if (operators.empty() || operators.top().Code != cdPrefixOp) return;
  if (values.empty()) RaiseError(Messages::PrefixWithoutOperand, -1);
  const Token op = operators.pop();
  const Token operand = values.pop();
  values.push(UnaryResult(op, operand, index, stackPos));
}

Token ParserBase::ApplyPostfix(const Token& op, const Token& operand, int& index, int& stackPos) {
  return UnaryResult(op, operand, index, stackPos);
}

void ParserBase::CallFunction(int argCount, Stack<Token>& operators, Stack<Token>& values, int& index,
                              int& stackPos) {
  if (operators.empty() || operators.top().Code != cdFunction) return;
  const Token function = operators.pop();
  const std::int32_t declared = function.GetArgCount();
  if (declared != -1 && argCount > declared) RaiseError(Messages::TooManyArguments, Pos);
  if (argCount < declared) RaiseError(Messages::TooFewArguments, Pos);
  if (values.size() < static_cast<std::size_t>(argCount)) values.pop();  // raises "stack is empty."

  // The arguments are the top argCount values, first argument lowest.
  const std::span<const Token> arguments = values.items().last(static_cast<std::size_t>(argCount));
  bool isVolatile = function.Volatile();
  for (const Token& argument : arguments) isVolatile = isVolatile || argument.Volatile();
  // No definition makes fixed counts other than 1; there is no callback form to call.
  if (declared != -1 && declared != 1) RaiseError(Messages::UnsupportedArgumentCount, -1);
  const double result = Call(function, declared, arguments);
  values.Drop(static_cast<std::size_t>(argCount));

  values.push(ValueToken(result, isVolatile));
  stackPos += 1 - argCount;
  const Cell written = declared == -1 ? -argCount : argCount;
  if (OptimizerOn && !isVolatile)
    Fold(index, argCount, stackPos, result, Messages::NegativeIndex);
  else if (function.WithContext)
    AppendContextFunction(index, stackPos, written, function.Addr, function.Context);
  else
    AppendFunction(index, stackPos, written, function.Addr);
}

// Folding: the value entries of the operands, the last ones written, make
// way for one value entry of the result.
void ParserBase::Fold(int& index, int operands, int slot, double value, std::string_view negativeIndex) {
  index -= ValueEntryCells * operands;
  if (index < 0) RaiseError(negativeIndex, -1);
  AppendValue(index, slot, value);
}

// One line for an entry: its slot, its listing name and its payload.
std::string Disassemble(std::span<const Cell> cells, const NameOfAddress& nameOf) {
  std::string text;
  std::size_t i = 0;
  while (i + 1 < cells.size()) {
    const Cell slot = cells[i], code = cells[i + 1];
    if (!text.empty()) text += '\n';
    if (code == cdEnd) return text + std::string(Commands[cdEnd].Listing);
    const Command* command = FindCommand(code);
    if (!command || command->Cells == 0 || i + static_cast<std::size_t>(command->Cells) > cells.size())
      return text + std::to_string(slot) + " ?" + std::to_string(code);
    text += std::to_string(slot) + ' ' + std::string(command->Listing);
    const Cell* payload = &cells[i + 2];
    switch (code) {
      case cdValue: {
        char number[32];
        const auto end = std::to_chars(number, number + sizeof number, ReadDouble(payload)).ptr;
        text += ' ' + std::string(number, end);
        break;
      }
      case cdVariable:
      case cdPostfixOp: text += ' ' + nameOf(ReadAddress(payload), nullptr); break;
      case cdContextOp:
        text += ' ' + nameOf(ReadAddress(payload), ReadAddress(payload + AddressCells));
        break;
      case cdFunction:
        text += ' ' + std::to_string(payload[0]) + ' ' + nameOf(ReadAddress(payload + 1), nullptr);
        break;
      case cdContextFunction:
        text += ' ' + std::to_string(payload[0]) + ' ' +
                nameOf(ReadAddress(payload + 1), ReadAddress(payload + 1 + AddressCells));
        break;
      default: break;  // binary operators carry no payload
    }
    i += static_cast<std::size_t>(command->Cells);
  }
  return text;
}

}  // namespace MathUtils
