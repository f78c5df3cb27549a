// The program that later evaluations run, derived once from the cells.
//
// Each instruction reads its operands through pointers: to a slot of the
// program's stack, to a variable, or to a number kept in the instruction
// itself. Loads of variables and numbers therefore cost no instruction of
// their own; the instruction that consumes a slot reads it where it lives.
//
//   Op                 reads                 effect                               listed as
//   -----------------  --------------------  -----------------------------------  ---------------------
//   cdLessEq..cdOr 0-  *Left, *Right         *Result = ComputeBinary(Op, ..)      s1 = ADD s1, x
//   OpSquare 32        *Left                 *Result = *Left * *Left              s1 = SQUARE x
//   OpLoad 33          *Left                 *Result = *Left                      s1 = LOAD 2
//   OpCallUnary 34     *Left, Callback       *Result = f(*Left)                   s1 = CALL sin s1
//   OpCallList 35      ArgCount, Callback    *Result = f(the ArgCount values      s1 = CALL sum s1..s3
//                                                        from Result on)
//   (after the last)   Result                the value of the formula             RESULT s1
//
// Notes
// - Result points at the stack slot that the cells' entry writes; the
//   final result may instead be a variable (a formula that is one variable).
// - A power by the number 2 becomes OpSquare; any other power calls the C
//   library, as does every callback. Calls is set when any instruction
//   calls, so that a program without calls runs in a loop that keeps no
//   registers across calls.
// - Variables still pending are copied to the stack before any callback
//   runs, since a callback may change them: every value is read when the
//   cells would read it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "parser/bytecode.h"

namespace MathUtils::detail {

// The program's own codes, beyond the binary operators it shares with the
// cells.
enum ProgramOp : std::int32_t {
  OpSquare = 32,
  OpLoad,
  OpCallUnary,
  OpCallList,
};

struct Instruction {
  std::int32_t Op;  // a binary operator's CmdCode, or a ProgramOp
  std::int32_t ArgCount;
  double* Result;
  const double* Left;
  const double* Right;
  void* Callback;
  double Constants[2];  // operands that are numbers
};

struct Program {
  // Replaces the program with the one derived from the cells. Returns false
  // for cells it does not know; the cell interpreter then runs them and
  // reports them.
  bool Derive(std::span<const Cell> cells);

  std::vector<Instruction> Instructions;
  const double* Result = nullptr;
  bool Calls = false;                 // whether any instruction calls a function
  double Slots[EvaluationStackSize];  // the stack; slot 0 is never written
};

// Lists the instructions one per line, as in the table above; nameOf turns
// a variable or callback address into a name.
std::string DisassembleProgram(const Program& program, const std::function<std::string(const void*)>& nameOf);

}  // namespace MathUtils::detail
