// The program that later evaluations run, derived once from the cells.
//
// Each instruction reads its operands where they live: in a slot of the
// evaluation's own frame, in a variable, or in a number kept in the
// instruction itself. Loads of variables and numbers therefore cost no
// instruction of their own; the instruction that consumes a slot reads it
// there. The program itself is never written by a run: every run has a
// frame of its own, so runs may nest (a callback that evaluates again) and
// run on several threads at once.
//
//   Op                 reads                 effect                               listed as
//   -----------------  --------------------  -----------------------------------  ---------------------
//   cdLessEq..cdOr 0-  Left, Right           s[Slot] = ComputeBinary(Op, ..)      s1 = ADD s1, x
//   OpSquare 32        Left                  s[Slot] = Left * Left                s1 = SQUARE x
//   OpLoad 33          Left                  s[Slot] = Left                       s1 = LOAD 2
//   OpCallUnary 34     Left, Callback        s[Slot] = f(Left)                    s1 = CALL sin s1
//   OpCallList 35      ArgCount, Callback    s[Slot] = f(the ArgCount values      s1 = CALL sum s1..s3
//                                                        from s[Slot] on)
//   OpCallUnaryContext 36  as OpCallUnary,   s[Slot] = f(Context, Left)           s1 = CALL f s1
//                      and Context
//   OpCallListContext 37   as OpCallList,    s[Slot] = f(Context, the values)     s1 = CALL g s1..s3
//                      and Context
//   (after the last)   Result                the value of the formula             RESULT s1
//
// Notes
// - Slot is the frame slot that the cells' entry writes; the final result
//   may instead be a variable (a formula that is one variable).
// - The cells are refused where an entry reads a slot that no entry wrote
//   (or whose value an earlier entry already consumed): a run never reads
//   a slot of its frame before writing it.
// - They are refused too where a value waits in a slot above a call's
//   arguments, which no compiled formula leaves: the machine code keeps
//   such a value in a register that the call may write over, and the
//   program would read a variable there after the call changed it.
// - A power by the number 2 becomes OpSquare; any other power calls the C
//   library, as does every callback. Calls is set when any instruction
//   calls, so that a program without calls runs in a loop that keeps no
//   registers across calls; CallsBack when any calls a callback that is not
//   a built-in (built-ins are pure, and may be called over many points
//   before the next instruction runs).
// - A callback defined with a context has ops of its own, so that a plain
//   call takes no branch on whether a context comes with it.
// - Variables still pending are copied to the stack before any callback
//   runs, since a callback may change them: every value is read when the
//   cells would read it.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parser/core/cells.h"
#include "parser/core/commands.h"
#include "parser/front/bytecode.h"

namespace MathUtils::detail {

// The program's own operations, beyond the binary operators it shares with
// the cells: one row each, with the name a listing gives it and how a code
// generator lowers it (see Lowering).
// clang-format off
#define MATHUTILS_PROGRAM_OPERATIONS(ROW)                  \
  ROW(OpSquare,           32, "SQUARE", Square)           \
  ROW(OpLoad,             33, "LOAD",   Load)             \
  ROW(OpCallUnary,        34, "CALL",   CallUnary)        \
  ROW(OpCallList,         35, "CALL",   CallList)         \
  ROW(OpCallUnaryContext, 36, "CALL",   CallUnaryContext) \
  ROW(OpCallListContext,  37, "CALL",   CallListContext)
// clang-format on

enum ProgramOp : std::int32_t {
#define MATHUTILS_OP(op, number, listing, lowering) op = number,
  MATHUTILS_PROGRAM_OPERATIONS(MATHUTILS_OP)
#undef MATHUTILS_OP
};

struct ProgramOperation {
  std::int32_t Op;
  std::string_view Listing;
  Lowering Lowers;
};

inline constexpr ProgramOperation ProgramOperations[] = {
#define MATHUTILS_ROW(op, number, listing, lowering) {op, listing, Lowering::lowering},
    MATHUTILS_PROGRAM_OPERATIONS(MATHUTILS_ROW)
#undef MATHUTILS_ROW
};

constexpr bool ProgramOperationsFollowEachOther() {
  for (std::size_t i = 0; i < std::size(ProgramOperations); ++i)
    if (ProgramOperations[i].Op != OpSquare + static_cast<std::int32_t>(i)) return false;
  return true;
}
static_assert(ProgramOperationsFollowEachOther(), "ProgramOperations is indexed by op - OpSquare");

// How a code generator lowers an operation of the program: a binary
// operator's row in the command table, or the program's own.
constexpr Lowering LoweringOf(std::int32_t op) {
  return IsBinaryOperator(op) ? Commands[op].Lowers : ProgramOperations[op - OpSquare].Lowers;
}

// The name of an operation in a listing.
constexpr std::string_view ListingOf(std::int32_t op) {
  return IsBinaryOperator(op) ? Commands[op].Listing : ProgramOperations[op - OpSquare].Listing;
}

// Where an operand lives: a slot of the run's frame, or a double at a fixed
// address (a variable, or a number in the instruction). One form for both,
// so that reading an operand takes no branch: the frame's address, masked
// to nothing for a fixed address, plus Where.
class Operand {
 public:
  static Operand OfSlot(int slot) {
    return {static_cast<std::uintptr_t>(slot) * sizeof(double), ~std::uintptr_t{0}};
  }
  static Operand At(const double* address) { return {reinterpret_cast<std::uintptr_t>(address), 0}; }
  Operand() = default;

  const double* In(const double* frame) const {
    return reinterpret_cast<const double*>((reinterpret_cast<std::uintptr_t>(frame) & FrameMask) + Where);
  }
  bool IsSlot() const { return FrameMask != 0; }
  int Slot() const { return static_cast<int>(Where / sizeof(double)); }
  const double* Address() const { return reinterpret_cast<const double*>(Where); }

 private:
  Operand(std::uintptr_t where, std::uintptr_t mask) : Where(where), FrameMask(mask) {}

  std::uintptr_t Where = 0;      // the slot's offset in the frame, or the address
  std::uintptr_t FrameMask = 0;  // all ones for a slot, 0 for an address
};

struct Instruction {
  std::int32_t Op;  // a binary operator's CmdCode, or a ProgramOp
  std::int32_t ArgCount;
  std::int32_t Slot;  // the slot written
  Operand Left;
  Operand Right;
  void* Callback;
  void* Context;        // of a callback called with one
  double Constants[2];  // operands that are numbers

  // Whether the operand is one of the instruction's own numbers.
  bool IsConstant(const Operand& operand) const {
    return !operand.IsSlot() && (operand.Address() == &Constants[0] || operand.Address() == &Constants[1]);
  }
};

// A frame: the slots of one run, slot 0 never written.
using Frame = double[EvaluationStackSize];

// The routines that hold a frame or a callback scope run without the
// address sanitizer's instrumentation: a thread cancelled inside a
// callback unwinds through them, and the sanitizer of g++ 12 trips over the
// red zones that such an unwinding leaves behind when an instrumented
// cleanup runs next. A program reads and writes only slots 1 to 299, which
// Derive checks.
#if defined(__SANITIZE_ADDRESS__)
#define MATHUTILS_FRAME_UNSANITIZED [[gnu::no_sanitize_address]]
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MATHUTILS_FRAME_UNSANITIZED [[gnu::no_sanitize_address]]
#endif
#endif
#ifndef MATHUTILS_FRAME_UNSANITIZED
#define MATHUTILS_FRAME_UNSANITIZED
#endif

struct Program {
  // Replaces the program with the one derived from the cells. Returns false
  // for cells it does not know; the cell interpreter then runs them and
  // reports them.
  bool Derive(std::span<const Cell> cells);

  std::vector<Instruction> Instructions;
  Operand Result;
  bool Calls = false;      // whether any instruction calls a function
  bool CallsBack = false;  // whether any calls a callback that is no built-in
  int HighestSlot = 1;
  // The pow of the formula's math library, which "^" calls (set before
  // Derive, which keeps it), and whether that library is the deterministic
  // one, whose functions code in lanes calls in their vector forms.
  PowFunction Raise = LibraryPower;
  bool Deterministic = false;
};

// Runs the program on the frame and returns its value. RunArithmetic is
// for programs without calls: it keeps no registers across calls, which
// makes it markedly faster.
double RunProgram(const Program& program, double* frame);
double RunArithmetic(const Program& program, double* frame);

// Lists the instructions one per line, as in the table above; nameOf turns
// a variable or callback address into a name.
std::string DisassembleProgram(const Program& program, const NameOfAddress& nameOf);

// Counts the callbacks that evaluations have called and that have not yet
// returned on this thread: while any runs, a compiled formula that a
// callback pulls away from its parser is kept, not freed (the run that
// called it goes on reading it). The interpreters hold one while they run,
// and so does the entry into machine code that calls callbacks of the user's.
class CallbackScope {
 public:
  CallbackScope() { ++Running; }
  ~CallbackScope() { --Running; }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

  static bool Any() { return Running != 0; }

 private:
  static inline thread_local int Running = 0;
};

}  // namespace MathUtils::detail
