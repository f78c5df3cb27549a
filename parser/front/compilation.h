// One compilation: lives on the stack for the time it takes to compile one
// formula, and owns everything that changes meanwhile (the reader and its
// position, the cell writer, the operator and value stacks). It reads the
// vocabulary and writes only the cells it was given, so compilations may
// nest (a callback that evaluates its own parser while it compiles).
//
// One pass over the tokens with an operator stack: each operation is
// applied as soon as its operands are complete, computing its value from
// the operand tokens and writing its entry (or, when folding is on and the
// operands are numbers, one value entry in place of theirs).
#pragma once

#include <cstdint>
#include <string_view>

#include "parser/core/commands.h"
#include "parser/front/array_point.h"
#include "parser/front/bytecode_writer.h"
#include "parser/front/cell_buffer.h"
#include "parser/front/stack.h"
#include "parser/front/token_reader.h"
#include "parser/front/tokens.h"
#include "parser/front/vocabulary.h"

namespace MathUtils::detail {

class Compilation {
 public:
  // point: where an evaluation over arrays reads its listed variables while
  // this compilation runs (see TokenReader); raise: the pow of the parser's
  // math library, for "^".
  Compilation(const Vocabulary& names, std::string_view text, CellBuffer& cells, bool fold,
              const ArrayPoint* point = nullptr, PowFunction raise = LibraryPower)
      : Reader(names, text, point), Writer(cells, text.size()), FoldingOn(fold), Raise(raise) {}
  Compilation(const Compilation&) = delete;
  Compilation& operator=(const Compilation&) = delete;

  // Reads the whole formula, writing its cells; returns its value.
  double Run();
  // Cells written, the end entry included.
  int EndOfBytecode() const { return Writer.Index; }

  // The apply steps: each computes its result from the operand tokens and
  // writes its entry, or folds. ApplyOperator and ApplyPostfix return the
  // result; ApplyUnaryOprt and CallFunction take their operator from the
  // top of the operator stack, if one waits there, and push it.
  Token ApplyOperator(const Token& left, std::int32_t code, const Token& right);
  void ApplyUnaryOprt();
  Token ApplyPostfix(const Token& op, const Token& operand);
  void CallFunction(int argCount);

 private:
  // Called for every token, from Run alone: inline, they cost no call each
  // (a call per token would cost a tenth of a short formula's compilation).
  [[gnu::always_inline]] inline bool Take(const Token& current);
  inline void OpenBracket(const Token& bracket);
  inline bool CloseBracket(const Token& bracket);
  inline bool Comma(const Token& comma);
  inline void PrefixOperator(const Token& op);
  [[noreturn]] void RaiseMissingOperand(const Token& current) const;
  inline void Operand(const Token& operand);
  inline bool Waits(CmdCode code) const;
  inline void Postfix(const Token& op);
  [[gnu::always_inline]] inline bool Delimit(const Token& current);
  [[gnu::always_inline]] inline bool Unwind(const Token& current);
  inline void ApplyBinary(CmdCode code);
  inline void CloseGroup();
  inline double Finish();
  // The operator priority of a binary operator, bracket, comma or the end.
  inline std::int32_t Priority(std::int32_t code) const;
  Token UnaryResult(const Token& op, const Token& operand);
  void Fold(int operands, int slot, double value, std::string_view negativeIndex);
  [[noreturn]] void Fail(std::string_view message, int position) const { Reader.Fail(message, position); }
  std::int32_t Here() const { return Reader.Position(); }

  TokenReader Reader;
  CellWriter Writer;
  bool FoldingOn;
  PowFunction Raise;
  Stack<Token> Operators;
  Stack<Token> Values;
  Stack<std::int32_t> ArgCounts;
  int BracketDepth = 0;
  int StackPos = 0;  // slot of the most recent result
};

}  // namespace MathUtils::detail
